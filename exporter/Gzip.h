#pragma once
// gzip of the exporter's answers (zlib), for clients that ask for it, as Prometheus always does.
#include <string>
#include <string_view>

namespace gzip {

// True when an Accept-Encoding value takes gzip: "gzip" (or "x-gzip", or "*") with a q above 0,
// and gzip not refused by q=0.
bool Accepted(std::string_view acceptEncoding);
// The bytes as one gzip member, at zlib's fastest level (a page of thousands of units is tens
// of megabytes, and every scrape pays it); empty when zlib fails.
std::string Compress(std::string_view bytes);

} // namespace gzip
