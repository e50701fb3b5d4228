#include "winapi/ascii_case.h"

#include <gtest/gtest.h>

#include <string>

namespace winapi {
namespace {

// Names are compared the way Windows compares them: "é" and "É" (or bytes of a UTF-8
// sequence) never fold together.
TEST(AsciiCase, OnlyAsciiLettersAreFolded) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const std::string upper = AsciiUpper(all);
  for (int c = 0; c < 256; ++c) {
    const char expected = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : static_cast<char>(c);
    EXPECT_EQ(upper[static_cast<std::size_t>(c)], expected) << c;
    EXPECT_EQ(AsciiUpper(static_cast<char>(c)), expected) << c;
  }
}

TEST(AsciiCase, EqualityIgnoresOnlyAsciiCase) {
  EXPECT_TRUE(EqualsIgnoringAsciiCase("Parity.Check", "PARITY.check"));
  EXPECT_TRUE(EqualsIgnoringAsciiCase("", ""));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("Yes", "Yes "));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("Yes", "Ye"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("caf\xE9", "CAF\xC9"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("[", "{"));  // 0x5B and 0x7B differ by 32 too
  EXPECT_FALSE(EqualsIgnoringAsciiCase("@", "`"));
}

}  // namespace
}  // namespace winapi
