#pragma once
#include <string>

namespace platform {

// A text from outside (a unit's value, a report's header text) bound for one line of a file or
// of a list: each CR and LF in it becomes a space, so it cannot end its line and start lines of
// its own that pass for records. Every other byte is kept as it came.
std::string OneLine(std::string text);

} // namespace platform
