#include "runtime/error_display.h"

#include <iostream>
#include <memory>
#include <mutex>
#include <utility>

namespace runtime {

namespace {

void WriteToStandardError(const std::string& message) {
  std::cerr << message << std::endl;
}

// The display is swapped rarely and read from any thread that reports an error.
struct DisplaySlot {
  std::mutex mutex;
  std::shared_ptr<const ExceptionDisplay> display;
};

DisplaySlot& Slot() {
  static DisplaySlot slot;
  return slot;
}

}  // namespace

void SetExceptionDisplay(ExceptionDisplay display) {
  auto shared = display ? std::make_shared<const ExceptionDisplay>(std::move(display)) : nullptr;
  DisplaySlot& slot = Slot();
  std::lock_guard lock(slot.mutex);
  slot.display = std::move(shared);
}

std::string ExceptionMessage(const std::exception_ptr& error) {
  if (!error) return {};
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown exception";
  }
}

std::string ExceptionReason(const std::exception_ptr& error) {
  if (!error) return {};
  try {
    std::rethrow_exception(error);
  } catch (const ExplainedError& explained) {
    return explained.Reason();
  } catch (...) {
    return {};
  }
}

void HandleException(const std::exception_ptr& error, const void* /*sender*/) {
  if (!error) return;
  const std::string message = ExceptionMessage(error);
  std::shared_ptr<const ExceptionDisplay> display;
  {
    DisplaySlot& slot = Slot();
    std::lock_guard lock(slot.mutex);
    display = slot.display;
  }
  if (!display) {
    WriteToStandardError(message);
    return;
  }
  try {
    (*display)(message);
  } catch (...) {
    WriteToStandardError(message);
  }
}

}  // namespace runtime
