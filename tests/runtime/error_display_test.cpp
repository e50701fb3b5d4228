#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/error_display.h"

namespace {

class ErrorDisplay : public ::testing::Test {
 protected:
  void TearDown() override { runtime::SetExceptionDisplay(nullptr); }
};

TEST_F(ErrorDisplay, DefaultWritesTheMessageAndALineEndToStandardError) {
  testing::internal::CaptureStderr();
  runtime::HandleException(std::make_exception_ptr(std::runtime_error("Unable to open com port")));
  runtime::HandleException(std::make_exception_ptr(42));
  runtime::HandleException(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unable to open com port\nUnknown exception\n");
}

TEST_F(ErrorDisplay, AReplacedDisplayGetsTheMessageInsteadOfStandardError) {
  std::vector<std::string> shown;
  runtime::SetExceptionDisplay([&](const std::string& message) { shown.push_back(message); });
  int sender = 0;
  testing::internal::CaptureStderr();
  runtime::HandleException(std::make_exception_ptr(std::logic_error("bad state")), &sender);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "bad state");

  runtime::SetExceptionDisplay(nullptr);  // back to the default
  testing::internal::CaptureStderr();
  runtime::HandleException(std::make_exception_ptr(std::runtime_error("again")));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "again\n");
  EXPECT_EQ(shown.size(), 1u);
}

TEST_F(ErrorDisplay, AFailingDisplayFallsBackToStandardError) {
  runtime::SetExceptionDisplay([](const std::string&) { throw std::runtime_error("no screen"); });
  testing::internal::CaptureStderr();
  EXPECT_NO_THROW(runtime::HandleException(std::make_exception_ptr(std::runtime_error("lost?"))));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "lost?\n");
}

TEST(ExceptionMessage, UsesWhatOrAFixedTextForOtherExceptions) {
  EXPECT_EQ(runtime::ExceptionMessage(std::make_exception_ptr(std::out_of_range("index"))),
            "index");
  EXPECT_EQ(runtime::ExceptionMessage(std::make_exception_ptr(std::string("text"))),
            "Unknown exception");
  EXPECT_EQ(runtime::ExceptionMessage(nullptr), "");
}

}  // namespace
