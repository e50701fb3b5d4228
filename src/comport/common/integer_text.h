// Strict whole-text integer conversion shared by the character texts and the INI store.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace comport {

// Optional leading spaces, an optional sign, then decimal digits or hexadecimal digits
// after "$", "x" or "0x" (either case); the whole text must be used. Decimal values must
// lie in the signed 32-bit range; hexadecimal ones may use all 32 bits (so $FFFFFFFF is
// -1). Nothing when the text is not such a number.
std::optional<std::int32_t> ParseInt32(std::string_view text);

}  // namespace comport
