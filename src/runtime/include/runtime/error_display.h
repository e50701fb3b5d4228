// The application's error display: where an error that leaves a handler is shown.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace runtime {

using ExceptionDisplay = std::function<void(const std::string& message)>;

// Replaces the display; an empty function restores the default, which writes the
// message and a line end to standard error. Any thread.
void SetExceptionDisplay(ExceptionDisplay display);

// Shows the message of `error` (what() of a std::exception, otherwise
// "Unknown exception") on the current display. `sender` names the object the error
// came from; the display shows only the message. A null `error` shows nothing.
// Never throws: if the display itself fails, the message goes to standard error.
void HandleException(const std::exception_ptr& error, const void* sender = nullptr);

// The text HandleException shows for `error`.
std::string ExceptionMessage(const std::exception_ptr& error);

// An error that can say why it happened, beside its message (which stays as it is);
// the window's error box shows the reason as a second paragraph.
class ExplainedError {
 public:
  virtual ~ExplainedError() = default;
  virtual std::string Reason() const = 0;
};

// The reason an ExplainedError gives; empty for any other error.
std::string ExceptionReason(const std::exception_ptr& error);

}  // namespace runtime
