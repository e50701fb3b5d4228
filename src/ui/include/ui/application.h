// The application services a window's logic uses, behind one interface; each back end
// (headless, Qt, Win32) supplies them. Main thread only, like the window itself.
#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <string>

namespace ui {

class Timer;

// The error display's full-stop rule: a full stop is appended when the text's last
// character sorts after '.' (a letter or a digit), not after "!" or ")"; an empty text
// stays empty.
std::string WithFullStop(const std::string& text);

// Between two paragraphs of a dialog's text.
inline constexpr const char* kParagraphBreak = "\r\n\r\n";

class Application {
 public:
  virtual ~Application() = default;

  // The text of the task-bar button and the caption of message boxes.
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& value);

  // Handles every pending message once: the runtime's main-thread queue (port event
  // hand-overs, sent messages), due timer ticks and, with a GUI, the toolkit's events.
  virtual void ProcessMessages() = 0;
  // Blocks until something is pending (a queued hand-over, a due timer tick, a toolkit
  // event) or `limit` passes, without handling it. Waiting loops call it between
  // ProcessMessages so that they do not spin a core.
  virtual void WaitForMessage(std::chrono::milliseconds limit) = 0;
  // Blocks the main thread; nothing is processed meanwhile.
  void Sleep(std::chrono::milliseconds duration);

  // The plain message dialog: modal, application title as caption, no icon, one "OK".
  // Timer ticks and port events keep being processed while it is open.
  virtual void ShowMessage(const std::string& text) = 0;
  // The error display: stop icon, application title as caption, one "OK". `text`
  // already has the full-stop rule applied.
  virtual void ShowError(const std::string& text) = 0;

  // Shows an error that left a handler: its message with the full-stop rule and, for an
  // error that gives a reason, the reason as a second paragraph.
  void ShowException(const std::exception_ptr& error);
  // Runs a handler the way the toolkit runs one: an exception that leaves it goes to the
  // error display and the program keeps running.
  void RunHandler(const std::function<void()>& handler);

  // The back end runs every timer it is given (while the timer is enabled) until it is
  // removed.
  virtual void AddTimer(Timer& timer) = 0;
  virtual void RemoveTimer(Timer& timer) = 0;

  // Asks the message loop to end once the current handler has returned.
  virtual void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }

 protected:
  virtual void TitleChanged() {}

 private:
  std::string title_;
  bool terminated_ = false;
};

}  // namespace ui
