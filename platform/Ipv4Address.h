#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// A unit's address as every front end reads it (the window's address control, veltrane-cli,
// the exporter's configuration): four decimal fields of one to three digits, each 0 to 255,
// joined by dots. A leading zero is a decimal digit like any other ("010" is ten, never eight
// as inet_aton would read it). Blanks around the whole text are dropped. Nothing else is an
// address: no names (nothing is ever looked up), no short forms ("10.1"), no hexadecimal, no
// signs, no blanks inside.
//
// Returns the address in its one canonical spelling ("10.0.0.5" for " 010.0.0.05"), the text
// that goes to the network code; nothing when text is not an address.
std::optional<std::string> CanonicalIPv4Address(std::string_view text);

} // namespace platform
