#include "platform/Ipv4Address.h"

namespace platform {

std::optional<std::string> CanonicalIPv4Address(std::string_view text)
{
    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    const std::size_t begin = text.find_first_not_of(kBlanks);
    if (begin == std::string_view::npos)
        return std::nullopt;
    text = text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1);

    std::string canonical;
    int fields = 0;
    std::size_t at = 0;
    for (;;) {
        int value = 0;
        int digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            value = value * 10 + (text[at] - '0');
            ++digits;
            ++at;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return std::nullopt;
        canonical += std::to_string(value);
        if (++fields == 4)
            break;
        if (at >= text.size() || text[at] != '.')
            return std::nullopt;
        canonical += '.';
        ++at;
    }
    if (at != text.size())
        return std::nullopt;
    return canonical;
}

} // namespace platform
