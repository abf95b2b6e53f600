#include "exporter/Gzip.h"

#include <zlib.h>

#include <cstdlib>
#include <strings.h>

namespace {

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool Named(std::string_view token, const char* name)
{
    return token.size() == std::char_traits<char>::length(name) && ::strncasecmp(token.data(), name, token.size()) == 0;
}

} // namespace

bool gzip::Accepted(std::string_view acceptEncoding)
{
    int gzip = -1, any = -1; // -1: not named; else whether its q is above 0
    while (!acceptEncoding.empty()) {
        const std::size_t comma = acceptEncoding.find(',');
        std::string_view item = acceptEncoding.substr(0, comma);
        acceptEncoding.remove_prefix(comma == std::string_view::npos ? acceptEncoding.size() : comma + 1);
        const std::size_t semicolon = item.find(';');
        const std::string_view name = Trimmed(item.substr(0, semicolon));
        bool wanted = true;
        if (semicolon != std::string_view::npos) {
            const std::string_view parameter = Trimmed(item.substr(semicolon + 1));
            if (parameter.size() >= 2 && (parameter[0] == 'q' || parameter[0] == 'Q') && parameter[1] == '=') {
                const std::string value(Trimmed(parameter.substr(2)).substr(0, 8));
                wanted = std::strtod(value.c_str(), nullptr) > 0;
            }
        }
        if (Named(name, "gzip") || Named(name, "x-gzip"))
            gzip = wanted;
        else if (name == "*")
            any = wanted;
    }
    return gzip == 1 || (gzip == -1 && any == 1);
}

std::string gzip::Compress(std::string_view bytes)
{
    z_stream stream {};
    // 15 window bits, +16: a gzip header and trailer rather than zlib's.
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::string out(deflateBound(&stream, bytes.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : std::string();
}
