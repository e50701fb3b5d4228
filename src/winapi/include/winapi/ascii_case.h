// Letter case as Windows compares names (keys, sections, values, setting texts): only the
// ASCII letters a..z and A..Z are folded, every other byte is compared as it is, whatever
// the locale.
#pragma once

#include <string>
#include <string_view>

namespace winapi {

char AsciiUpper(char c);
std::string AsciiUpper(std::string_view text);
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace winapi
