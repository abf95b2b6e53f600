#pragma once
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

// Appends bytes with every control character written as a C escape (\t, \n, \r, \\, \xHH for
// the others and DEL), so that outside bytes stay on one line and on one field: a terminal line
// of the command line, a field of the column sidecar. Every other byte is kept as it is.
inline void AppendCEscaped(std::string& out, std::string_view bytes)
{
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\\': out += "\\\\"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02x", c);
                out += hex;
            } else {
                out += ch;
            }
        }
    }
}

} // namespace platform
