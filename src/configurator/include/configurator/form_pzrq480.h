// The configurator's main window: its controls as models, start-up, the byte link to the
// device and the read and write procedures. Toolkit-free; a back end mirrors the models.
//
// Where TFormPZRQ480's members live (src/configurator/common/):
//   form_controls.cpp     the constructor (controls, positions, handler bindings), FillList
//   form_startup.cpp      FormCreate (lists, the port probe), FormDestroy, FormCloseQuery,
//                         SpeedButton1Click, FillPortList, OpenablePorts
//   port_reprobe.cpp      PortsChanged, ReprobePorts, ReprobeTimerTick (ports plugged in/out)
//   device_link.cpp       SendByte, PortRxChar, Timer1Timer, RestartSilence, CheckFrame,
//                         AwaitReply, SendRequest, Exchange (the byte link and its frames)
//   settings_exchange.cpp btnReadClick, btnWriteClick and the steps behind them: opening at
//                         the search rate, the version query, the rate search, the read-back
//                         check, RunOperation/EndOperation and closing during an operation
//   device_settings.cpp   the table of the five settings and the list each one fills
#pragma once

#include "comport/component.h"
#include "comport/port.h"
#include "configurator/device_settings.h"
#include "ui/application.h"
#include "ui/controls.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace configurator {

// What became of one request of the last read.
enum class ReplyStatus {
  NotAsked,     // the read stopped before this request
  Good,         // a fresh frame with a good checksum
  NoReply,      // no byte arrived after the request was sent
  BadChecksum,  // a frame arrived but its XOR is not zero
  ShortFrame,   // a frame with a good XOR but too short to hold the bytes a reply carries
  NoSilence,    // bytes kept coming until the wait's limit: no frame ever ended
  LongFrame,    // a frame longer than the receive buffer: no reply is that long
  Echo,         // the frame repeats the request just sent: a loopback, not a device
};

// How a status reads in messages: "no reply", "bad checksum", ...
const char* ReplyStatusText(ReplyStatus status);

struct ReplyResult {
  ReplyStatus status = ReplyStatus::NotAsked;
  std::uint8_t value = 0;  // entry 2 of the frame (Good only)
};

struct ReadReport {
  ReplyResult version;
  std::uint8_t hardwareVersion = 0;     // entry 1 of the version reply (Good only)
  std::array<ReplyResult, 5> settings;  // in the order of DeviceSettings()
};

// What became of the last write, setting by setting in the order of DeviceSettings().
struct WriteReport {
  bool started = false;  // the version query answered, so setting frames went out
  std::array<std::uint8_t, 5> values{};
  std::array<bool, 5> sent{};  // whose whole frame the port took
  bool stoppedByError = false;
  // After the read-back: one line per setting the device does not report as written,
  // "XpressNet address: 9 written, the device reports 12".
  std::vector<std::string> differences;

  // The settings sent and those not, each as `item` words it (given its value and whether
  // it was sent), joined with ", "; empty when there is none.
  struct Split {
    std::string sent;
    std::string notSent;
  };
  Split SplitBySent(const std::function<std::string(const DeviceSetting&, std::uint8_t value,
                                                    bool sent)>& item) const;
};

// Why nothing could be read when no request of `report` got a usable reply: each reason
// once, in the order met, joined with "; " ("the line echoes what is sent: a loopback or
// no device"). Empty when a setting was read.
std::string NothingReadReason(const ReadReport& report);

// Where a search of the other rates found the device (an index of cbSearchBaud).
struct RateSearch {
  bool ran = false;
  int answeredAt = -1;  // -1: no rate answered
};

// The application and the window the controls are built in. A base rather than members,
// so that both exist before the first control is built.
struct FormFrame {
  ui::Application& app_;
  ui::Window window_;
};

class TFormPZRQ480 : public comport::TComponent, private FormFrame {
 public:
  static constexpr std::size_t kRxBufSize = 11;
  // A reply's entries 0 to 2 and its checksum byte: any shorter frame carries no value.
  static constexpr std::int32_t kMinReplySize = 4;
  // Ticks of Timer1 without a received byte that end a frame: the 6th tick.
  static constexpr std::intptr_t kSilenceTicks = 5;
  // The longest wait for a reply after its request, in Timer1 ticks (500 ms). A reply is
  // at most a buffer's worth of bytes (6 ms at 19200 baud) and the 60 ms of silence that
  // end it; a line that has not fallen silent by then is not answering, whatever it sends.
  // Counted in the ticks that also measure the silence, so a starved process loses no
  // more of a reply's time than of its silence.
  static constexpr std::int32_t kReplyLimitTicks = 50;
  // The same limit on the wall clock, ten times over: the wait ends even if no tick comes.
  static constexpr std::chrono::milliseconds kReplyBackstop{5000};
  // The rates cbSearchBaud offers, in its order.
  static constexpr std::array<comport::TBaudRate, 4> kSearchRates{
      comport::br19200, comport::br38400, comport::br57600, comport::br115200};
  // "19200, 38400, 57600 or 115200", for messages about all of them.
  static std::string SearchRatesText();

  // Builds the control models, binds the handlers and hands Timer1 to the application.
  explicit TFormPZRQ480(ui::Application& app);
  // Runs FormDestroy if it has not run.
  ~TFormPZRQ480() override;

  std::string ClassName() const override { return "TFormPZRQ480"; }

  ui::Window& Window() { return window_; }

  // ---- Handlers ----
  void FormCreate();
  void FormDestroy();
  void SpeedButton1Click();
  void btnReadClick();
  void btnWriteClick();
  void Timer1Timer();
  void PortRxChar(comport::TObject* Sender, std::int32_t Count);
  // The window's close request: false while a read or write runs; that operation is
  // then abandoned at its next wait, the port is closed and the application asked to end.
  bool FormCloseQuery();
  // Serial devices or port-map entries came or went (told by a PortWatch): cbPort is
  // probed again once the changes have settled, and never while a read or write runs.
  void PortsChanged();

  // ---- Device link ----
  void SendByte(std::uint8_t b);
  bool CheckFrame() const;
  // Waits until silence ends a frame (true) or the reply limit has passed (false; the next
  // frame then starts at entry 0).
  bool AwaitReply();
  // Sets the silence counter to 0 and wakes Timer1, which sleeps once a frame has ended.
  void RestartSilence();

  // Sends the version query once at the current port and search rate; true when a
  // fresh frame with a good checksum answers. Opens the port if needed and closes it.
  bool ProbeDevice();

  // Tries the version query at the rates of cbSearchBaud other than the selected one,
  // on the port of cbPort; the selection is left as it was. The index that answered,
  // or -1. Opens the port if needed and closes it.
  int LocateDevice();

  // True while a read or a write runs.
  bool Busy() const { return busy_; }

  // Whether a read that gets no reply at all looks for the device at the other rates
  // (and, where it answers, selects that rate and reads there).
  bool SearchOnSilence = true;

  // Told of every byte sent (true) and received (false), for tracing.
  std::function<void(bool sent, std::uint8_t byte)> OnTrace;

  // How long the port list waits after the last change before it probes again: a new
  // adapter's device gets its permissions and links a moment after it appears.
  static constexpr int kReprobeDelayMs = 500;

  // ---- Controls, in creation order ----
  ui::Label Label1;
  ui::Label Label8;
  ui::ComboBox cbPort;
  ui::ComboBox cbSearchBaud;
  ui::Button btnRead;
  ui::Timer Timer1;
  ui::GroupBox GroupBox3;
  ui::Label Label7;
  ui::Label lVer;
  ui::GroupBox GroupBox1;
  ui::Label Label2;
  ui::ComboBox cbXPAddr;
  ui::Label Label3;
  ui::ComboBox cbBaudRate;
  ui::Panel pWait;
  ui::GroupBox GroupBox2;
  ui::Label Label4;
  ui::ComboBox cbS88Addr;
  ui::Label Label6;
  ui::Label Label5;
  ui::ComboBox cbS88Num;
  ui::GroupBox GroupBox4;
  ui::Label Label9;
  ui::ComboBox cbCommStat;
  ui::Button btnWrite;
  ui::Button SpeedButton1;

  comport::TComPort* ComPort = nullptr;

  // ---- Device link state ----
  // Written only on the main thread, by the device link (device_link.cpp: SendByte,
  // PortRxChar, Timer1Timer) and by the read and write steps that start a request
  // (settings_exchange.cpp); public so that tests can read them.
  std::uint8_t TxSum = 0;
  std::array<std::uint8_t, kRxBufSize> RxBuf{};
  std::int32_t RxPos = 0;
  std::int32_t RxCount = 0;
  std::int32_t FrameDone = 0;
  // Bytes received since the current request began; a frame is a reply only if some are.
  std::int32_t RxSinceRequest = 0;
  // Timer1 ticks since the current reply wait began.
  std::int32_t TicksSinceRequest = 0;
  // The bytes of the last request, its checksum included, as they went out.
  std::vector<std::uint8_t> LastRequest;

  // Outcome of the last read, request by request.
  ReadReport LastRead;
  RateSearch LastSearch;
  WriteReport LastWrite;

 private:
  // Thrown at a wait when the window asked to close during an operation.
  struct Abandoned {};

  void RunOperation(const std::function<void()>& operation);
  void EndOperation();
  void EndAbandoned();
  void CheckAbandoned();
  void ShowBusy(bool busy);
  // Shows the wait panel, then lets the line settle before the first request.
  void ShowBusyAndSettle();
  // Sends the bytes of a request and their XOR.
  void SendRequest(std::initializer_list<std::uint8_t> bytes);
  ReplyResult Exchange(std::initializer_list<std::uint8_t> bytes);
  void ApplySearchBaud();
  // Sets the port of cbPort at the search rate and opens it if needed; true when it is open.
  bool OpenAtSearchRate();
  // Sends the version query into LastRead (with the hardware version); true on a good reply.
  bool QueryVersion();
  void FillList(const DeviceSetting& setting);
  enum class ReadPurpose { Click, WriteBack };
  void ReadSettings(ReadPurpose purpose);
  // The version query and the five settings at the port's current rate, into the lists.
  void ReadAtCurrentRate();
  bool NothingAnswered() const;
  // The search of LocateDevice on the open port; leaves it open at the rate it started at.
  int SearchOtherRates();
  void WriteSettings();
  // Closes the port after a failure; a second failure while closing is not shown.
  void ClosePortQuietly();
  std::string RateText(int index) const;
  std::string WriteProgressText() const;
  void CompareReadBack();
  // COM1..COM20 that `port` opens, in order. `held`, a port this window holds open on
  // ComPort, counts as there without being opened again.
  static std::vector<std::string> OpenablePorts(comport::TComPort& port,
                                                const std::string& held = {});
  // The items and, one each, their hints (PortHint: a look at the disk per port).
  void FillPortList(const std::vector<std::string>& names, const std::vector<std::string>& hints);
  void ReprobeTimerTick();
  // Probes the ports again; keeps the selected item where that port is still listed and
  // the typed text.
  void ReprobePorts();

  bool busy_ = false;
  bool abandon_ = false;
  // While setting frames go out, a close request waits for them: never half a frame.
  bool finishingWrites_ = false;
  // Not one of the window's controls: it only delays the port probe after a change.
  ui::Timer reprobeTimer_{"ReprobeTimer", nullptr, kReprobeDelayMs};
  bool reprobePending_ = false;  // a change came during a read or write
};

}  // namespace configurator
