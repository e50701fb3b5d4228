// Errors in the system's own words, with the number kept.
#include "winapi/system_error_text.h"

#include <gtest/gtest.h>

namespace winapi {
namespace {

TEST(SystemErrorText, TheSystemsMessageWithTheNumberInBrackets) {
  struct Case {
    DWORD error;
    const char* linuxText;  // the emulation's words; the system's own on Windows
  };
  const Case table[] = {
      {ERROR_ACCESS_DENIED, "Access is denied (system error 5)"},
      {ERROR_LOCK_VIOLATION,
       "The process cannot access the file because another process has locked a portion of the "
       "file (system error 33)"},
      {ERROR_CONNECTION_REFUSED,
       "The remote computer refused the network connection (system error 1225)"},
  };
  for (const Case& c : table) {
    const std::string text = SystemErrorText(c.error);
    SCOPED_TRACE(text);
#ifdef _WIN32
    const std::string number = " (system error " + std::to_string(c.error) + ")";
    ASSERT_GT(text.size(), number.size());
    EXPECT_EQ(text.substr(text.size() - number.size()), number);
    // One line, without the message's own full stop before the brackets.
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
    EXPECT_NE(text[text.size() - number.size() - 1], '.');
#else
    EXPECT_EQ(text, c.linuxText);
#endif
  }
  // A number the system has no message for keeps the number alone.
  EXPECT_EQ(SystemErrorText(0x2000ABCD), "system error 536914893");
}

}  // namespace
}  // namespace winapi
