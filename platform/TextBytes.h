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

// Bytes that must come back unchanged after a trip through a QString (program arguments, paths
// the system named): valid UTF-8 is read as such; in anything else each byte from 0x80 up
// becomes a lone surrogate (U+DC80 to U+DCFF), which no valid text holds. EscapedBytes undoes
// either; it is BytesFromText for any text without such surrogates. For showing, use
// TextFromBytes.
QString EscapedText(const std::string& bytes);
std::string EscapedBytes(const QString& text);
// An escaped path as the user reads it (TextFromBytes of its bytes), never its escapes.
QString ShownPath(const QString& escaped);

} // namespace platform
