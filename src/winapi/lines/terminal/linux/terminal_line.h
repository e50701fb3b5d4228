// The terminal back end of the comm driver: a termios device watched by one worker
// thread that sleeps in poll until the device or the driver has something for it. The
// threads waiting on the driver's input wait event watch the input too (see
// TerminalInputWatch); whoever sees it first hands it to the driver.
#pragma once

#include "lines/common/line.h"
#include "driver/linux/event_object.h"
#include "lines/terminal/linux/terminal_device.h"
#include "lines/terminal/linux/terminal_input_watch.h"
#include "lines/terminal/linux/terminal_modem_watch.h"

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

namespace winapi::driver {

class TerminalLine final : public Line {
 public:
  // Opens the terminal at `path` (see TerminalDevice::Open); null with `windowsError` set
  // on failure.
  static std::unique_ptr<TerminalLine> Open(const std::string& path, DWORD& windowsError);
  ~TerminalLine() override;

  void Start(LineSink& sink) override;
  void Stop() override;
  DWORD ApplyState(const DCB& dcb) override;
  std::size_t Transmit(std::span<const std::uint8_t> bytes) override;
  std::size_t Receive(std::span<std::uint8_t> dest) override;
  DWORD ModemStatus() override;
  void Purge(DWORD purgeFlags) override;
  void SetInputWaitEvent(HANDLE event) override;

  // The kernel id of the worker thread (0 before Start), for checks that it sleeps.
  int WorkerThreadId() const { return workerTid_; }

 private:
  TerminalLine(std::unique_ptr<TerminalDevice> device, int wakeFd);
  void Wake();
  void Fail(DWORD windowsError);
  void Run();
  // Input is waiting (seen by the worker or a watching waiter): the driver hears of it.
  void TakeInput();
  // What a waiter watching the input saw.
  void OnWatchedInput(short revents);
  // Reports modem line changes and new line errors and breaks since the last look.
  void ReportLineStatus();

  std::unique_ptr<TerminalDevice> device_;
  int wakeFd_;
  LineSink* sink_ = nullptr;
  std::thread worker_;
  std::atomic<int> workerTid_{0};
  std::optional<ModemWatch> modemWatch_;

  std::atomic<bool> stopping_{false};
  // Set when the driver must hear of waiting input (re-armed by a short Receive).
  std::atomic<bool> receiveArmed_{true};
  // Whether the worker's present poll includes input; a re-arm wakes it only when not.
  std::atomic<bool> workerWatchesInput_{false};
  // Set when a Transmit took fewer bytes than offered.
  std::atomic<bool> transmitWanted_{false};
  std::atomic<bool> modemChanged_{false};
  // The first transfer error; the worker turns it into OnGone.
  std::atomic<DWORD> failure_{ERROR_SUCCESS};

  std::shared_ptr<TerminalInputWatch> inputWatch_;
  // The event the watch is offered on; under the driver's mutex, as its calls are.
  std::weak_ptr<events::Event> inputWaitEvent_;

  // Worker-only state.
  DWORD lastModemStatus_ = 0;
  std::optional<TerminalCounters> lastCounters_;
};

}  // namespace winapi::driver
