#pragma once
#include <QString>

#include <string>

namespace platform {

// Texts from outside (the settings file, a unit) are bytes, kept as they came. To be shown they
// are read as UTF-8 when they are valid UTF-8, else byte by byte as Latin-1 (the 8-bit code
// page files of the original platform were written in), so every byte stays readable. A zero
// byte shows as U+2400 (a visible NUL sign) rather than silently ending the text.
QString TextFromBytes(const std::string& bytes);

// What the user typed, as the bytes that go out: UTF-8.
std::string BytesFromText(const QString& text);

} // namespace platform
