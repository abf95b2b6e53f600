#pragma once
#include <cstdint>
#include <string>

class CArchive;

// The main dialog's inputs as they survive from one run to the next. Texts are the bytes the
// user typed (UTF-8 on this platform); nothing converts them.
class CSettings {
public:
    // Stores fields 1 to 7 in file order; loads version 1 or 2 (see the .cpp for the format).
    void Serialize(CArchive& ar);

    std::string m_strPassword;
    std::string m_strFolder;
    std::string m_strPeriod = "5";
    std::string m_strIpAddress;
    std::uint8_t m_bOverwrite = 0;
    std::uint8_t m_bLocalTimezone = 0;
};

// The settings file, opened by its bare name in the process's current directory.
inline constexpr const char* kSettingsFileName = "VeltraneG.ini";

// Fills the record from the settings file. False, without a message, when the file cannot be
// opened; false after a message box with the standard file-error text when reading fails (the
// record then keeps its values). A wrong version is not a failure (see Serialize).
bool ReadSettingsFile(CSettings* settings);

// Replaces the settings file with the record: written to a temporary file beside it and
// renamed over it, so a crash never leaves half a file; mode 0600, since it holds the
// community. False after a message box with the standard file-error text.
bool WriteSettingsFile(CSettings* settings);
