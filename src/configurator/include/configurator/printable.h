// Text from outside (a typed port name, a command-line argument) shown in a message: control
// characters could move the cursor or clear a terminal, so they are spelled out.
#pragma once

#include <string>

namespace configurator {

// `text` with each control character (below 0x20, and 0x7F) as \xNN.
std::string Printable(const std::string& text);

}  // namespace configurator
