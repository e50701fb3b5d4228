// "Read settings" and "Write settings": the device's command set driven over the link.
#include "configurator/form_pzrq480.h"
#include "configurator/port_open_error.h"

#include "comport/text_conversion.h"
#include "configurator/printable.h"

#include <algorithm>

#include <chrono>

namespace configurator {

namespace {

constexpr std::uint8_t kVersionQuery = 0xF0;
constexpr std::uint8_t kSettingRequest = 0xF2;
constexpr std::uint8_t kReadMarker = 0xFF;
constexpr std::chrono::milliseconds kSettleTime{100};
constexpr std::chrono::milliseconds kWritePause{100};

std::string VersionCaption(std::uint8_t hardware, std::uint8_t software) {
  return "HW ver.: " + HardwareVersionText(hardware) + ",  SW ver.: " + std::to_string(software);
}

}  // namespace

void TFormPZRQ480::btnReadClick() {
  RunOperation([this] { ReadSettings(ReadPurpose::Click); });
}

void TFormPZRQ480::btnWriteClick() {
  RunOperation([this] { WriteSettings(); });
}

bool TFormPZRQ480::ProbeDevice() {
  bool answered = false;
  RunOperation([this, &answered] {
    LastRead = {};
    if (!OpenAtSearchRate()) return;
    ShowBusy(true);
    app_.Sleep(kSettleTime);
    app_.ProcessMessages();
    const bool good = QueryVersion();
    ComPort->SetConnected(false);
    answered = good;
  });
  return answered;
}

int TFormPZRQ480::LocateDevice() {
  int found = -1;
  RunOperation([this, &found] {
    if (!OpenAtSearchRate()) return;
    ShowBusy(true);
    app_.Sleep(kSettleTime);
    app_.ProcessMessages();
    found = SearchOtherRates();
    ComPort->SetConnected(false);
  });
  return found;
}

int TFormPZRQ480::SearchOtherRates() {
  const int tried = cbSearchBaud.ItemIndex();
  LastSearch = {true, -1};
  for (int i = 0; i < static_cast<int>(std::size(kSearchRates)) && LastSearch.answeredAt < 0; ++i) {
    if (i == tried) continue;
    ComPort->SetBaudRate(kSearchRates[i]);
    RxPos = 0;
    if (Exchange({kVersionQuery}).status == ReplyStatus::Good) LastSearch.answeredAt = i;
  }
  ApplySearchBaud();
  return LastSearch.answeredAt;
}

std::string TFormPZRQ480::SearchRatesText() {
  std::string text;
  for (std::size_t i = 0; i < kSearchRates.size(); ++i) {
    if (i > 0) text += i + 1 < kSearchRates.size() ? ", " : " or ";
    text += comport::BaudRateText(kSearchRates[i]);
  }
  return text;
}

std::string TFormPZRQ480::RateText(int index) const {
  return comport::BaudRateText(kSearchRates[static_cast<std::size_t>(index)]);
}

void TFormPZRQ480::RunOperation(const std::function<void()>& operation) {
  // One operation at a time: a click that arrives while one runs (from a message
  // processed inside it) is ignored.
  if (busy_ || !ComPort) return;
  busy_ = true;
  abandon_ = false;
  finishingWrites_ = false;
  try {
    operation();
  } catch (const Abandoned&) {
    EndOperation();
    EndAbandoned();
    return;
  } catch (...) {
    // A port that failed is not kept: the next operation opens it afresh.
    ClosePortQuietly();
    EndOperation();
    throw;
  }
  EndOperation();
  if (abandon_) EndAbandoned();
}

void TFormPZRQ480::ClosePortQuietly() {
  try {
    if (ComPort && ComPort->Connected()) ComPort->Close();
  } catch (...) {
    // The failure that brought us here is the one to show.
  }
}

void TFormPZRQ480::EndOperation() {
  busy_ = false;
  if (reprobePending_) reprobeTimer_.SetEnabled(true);
  pWait.SetVisible(false);
  btnRead.SetEnabled(true);
  btnWrite.SetEnabled(true);
}

void TFormPZRQ480::EndAbandoned() {
  abandon_ = false;
  struct Terminate {
    ui::Application& app;
    ~Terminate() { app.Terminate(); }
  } terminate{app_};
  if (ComPort && ComPort->Connected()) ComPort->Close();
}

void TFormPZRQ480::ShowBusy(bool busy) {
  pWait.SetVisible(busy);
  if (busy) {
    btnRead.SetEnabled(false);
    btnWrite.SetEnabled(false);
  }
}

void TFormPZRQ480::ShowBusyAndSettle() {
  ShowBusy(true);
  app_.ProcessMessages();
  CheckAbandoned();
  app_.Sleep(kSettleTime);
  app_.ProcessMessages();
  CheckAbandoned();
}

void TFormPZRQ480::ApplySearchBaud() {
  const int index = cbSearchBaud.ItemIndex();
  if (index >= 0 && index < static_cast<int>(std::size(kSearchRates))) {
    ComPort->SetBaudRate(kSearchRates[index]);
  }
}

bool TFormPZRQ480::OpenAtSearchRate() {
  ComPort->SetPort(cbPort.Text());
  ApplySearchBaud();
  if (!ComPort->Connected()) OpenWithReason(*ComPort);
  return ComPort->Connected();
}

bool TFormPZRQ480::QueryVersion() {
  RxPos = 0;
  LastRead.version = Exchange({kVersionQuery});
  if (LastRead.version.status != ReplyStatus::Good) return false;
  LastRead.hardwareVersion = RxBuf[1];
  return true;
}

void TFormPZRQ480::ReadSettings(ReadPurpose purpose) {
  lVer.SetCaption("...");
  for (const DeviceSetting& setting : DeviceSettings()) (this->*setting.list).SetItemIndex(-1);
  LastRead = {};
  LastSearch = {};
  // The read-back of a write reads the port the write used, typed name or not.
  if (purpose == ReadPurpose::Click && cbPort.ItemIndex() == -1) return;

  if (!OpenAtSearchRate()) return;

  ShowBusyAndSettle();

  ReadAtCurrentRate();

  std::string message;
  if (purpose == ReadPurpose::Click && SearchOnSilence && NothingAnswered()) {
    const std::string silentRate = cbSearchBaud.Text();
    const int found = SearchOtherRates();
    if (found >= 0) {
      cbSearchBaud.SetItemIndex(found);
      ApplySearchBaud();
      ReadAtCurrentRate();
      message = "The device answers at " + RateText(found) + " baud, not at " + silentRate +
                "; Port baud now shows it.";
    } else {
      message = "No device answered on " + Printable(ComPort->Port()) + " at " + SearchRatesText() +
                " baud. Check the port, the cable and the device's power.";
    }
  }
  // Emptied lists alone do not say whether the line echoes, chatters or garbles.
  if (purpose == ReadPurpose::Click && message.empty()) {
    // Silence alone is left to the rate search above (or to the caller that turned it off).
    const std::string reason = NothingReadReason(LastRead);
    if (!reason.empty() && reason != ReplyStatusText(ReplyStatus::NoReply)) {
      message = "Nothing could be read from " + Printable(ComPort->Port()) + " at " +
                cbSearchBaud.Text() + " baud: " + reason +
                ". Check the port, the cable and Port baud, then read again.";
    }
  }

  pWait.SetVisible(false);
  ComPort->SetConnected(false);
  if (!message.empty()) app_.ShowMessage(message);
}

void TFormPZRQ480::ReadAtCurrentRate() {
  lVer.SetCaption("...");
  LastRead = {};
  FrameDone = 0;
  RestartSilence();
  if (QueryVersion()) lVer.SetCaption(VersionCaption(RxBuf[1], RxBuf[2]));

  for (std::size_t i = 0; i < DeviceSettings().size(); ++i) {
    const DeviceSetting& setting = DeviceSettings()[i];
    (this->*setting.list).SetItemIndex(-1);
    LastRead.settings[i] = Exchange({kSettingRequest, setting.number, kReadMarker});
    if (LastRead.settings[i].status == ReplyStatus::Good) {
      (this->*setting.list).SetItemIndex(setting.IndexForReply(LastRead.settings[i].value));
    }
  }
}

bool TFormPZRQ480::NothingAnswered() const {
  if (LastRead.version.status != ReplyStatus::NoReply) return false;
  return std::all_of(LastRead.settings.begin(), LastRead.settings.end(),
                     [](const ReplyResult& r) { return r.status == ReplyStatus::NoReply; });
}

std::string NothingReadReason(const ReadReport& report) {
  const auto good = [](const ReplyResult& r) { return r.status == ReplyStatus::Good; };
  if (std::any_of(report.settings.begin(), report.settings.end(), good)) return {};
  std::vector<ReplyStatus> seen;
  std::string reasons;
  for (const ReplyResult& reply : report.settings) {
    if (std::find(seen.begin(), seen.end(), reply.status) != seen.end()) continue;
    seen.push_back(reply.status);
    reasons += (reasons.empty() ? "" : "; ") + std::string(ReplyStatusText(reply.status));
  }
  return reasons;
}

void TFormPZRQ480::WriteSettings() {
  LastWrite = {};
  // A port this write opens and then does not use is closed again: left open, it keeps
  // other programs (or the other clients of a network server) off the line.
  const bool openedHere = !ComPort->Connected();
  const auto stopUnused = [&](const char* message) {
    if (openedHere) ClosePortQuietly();
    app_.ShowMessage(message);
  };
  if (!OpenAtSearchRate()) {
    stopUnused("Not connected!");
    return;
  }
  for (const DeviceSetting& setting : DeviceSettings()) {
    if ((this->*setting.list).ItemIndex() == -1) {
      stopUnused("Please fill all fields!");
      return;
    }
  }

  // The values are taken once, before anything is sent: what changes in the window
  // while the write runs cannot reach the device.
  std::array<std::uint8_t, 5> values{};
  for (std::size_t i = 0; i < values.size(); ++i) {
    const DeviceSetting& setting = DeviceSettings()[i];
    values[i] = setting.ValueForIndex((this->*setting.list).ItemIndex());
  }
  const int newSearchBaud = cbBaudRate.ItemIndex();

  ShowBusyAndSettle();

  // Nothing goes out unless the device answers at this rate: frames the device cannot
  // hear would be lost, and the read-back would show the old values as if written.
  const std::string port = Printable(ComPort->Port());
  const std::string rate = cbSearchBaud.Text();
  if (!QueryVersion()) {
    const ReplyStatus status = LastRead.version.status;
    std::string message =
        status == ReplyStatus::NoReply
            ? "No reply from the device on " + port + " at " + rate + " baud; nothing was written."
            : port + " at " + rate + " baud: " + ReplyStatusText(status) + "; nothing was written.";
    if (status == ReplyStatus::NoReply) {
      const int found = SearchOtherRates();
      if (found >= 0) {
        cbSearchBaud.SetItemIndex(found);
        // The lists still show what was there before (at start-up, the defaults): written
        // now, they would replace the device's own settings.
        message += " The device answers at " + RateText(found) +
                   " baud; Port baud now shows it. Read the settings, change what you want, "
                   "then write.";
      } else {
        message += " No device answered at " + SearchRatesText() + " baud either.";
      }
    }
    pWait.SetVisible(false);
    ComPort->SetConnected(false);
    app_.ShowMessage(message);
    return;
  }

  LastWrite.started = true;
  LastWrite.values = values;
  finishingWrites_ = true;
  try {
    for (const bool rateChanging : {false, true}) {
      for (std::size_t i = 0; i < values.size(); ++i) {
        if (DeviceSettings()[i].changesLineRate != rateChanging) continue;
        SendRequest({kSettingRequest, DeviceSettings()[i].number, values[i]});
        LastWrite.sent[i] = true;
        app_.Sleep(kWritePause);
      }
    }
  } catch (...) {
    // The error box comes first, then what the device already has.
    finishingWrites_ = false;
    LastWrite.stoppedByError = true;
    ClosePortQuietly();
    pWait.SetVisible(false);
    app_.ShowException(std::current_exception());
    app_.ShowMessage(WriteProgressText());
    return;
  }
  finishingWrites_ = false;
  // A close asked for while the frames went out takes effect now, before the read-back.
  CheckAbandoned();
  cbSearchBaud.SetItemIndex(newSearchBaud);
  pWait.SetVisible(false);

  ReadSettings(ReadPurpose::WriteBack);
  CompareReadBack();
  if (!LastWrite.differences.empty()) {
    std::string message = "The device does not report what was written:";
    for (const std::string& line : LastWrite.differences) message += "\n" + line;
    app_.ShowMessage(message);
  }
}

void TFormPZRQ480::CompareReadBack() {
  for (std::size_t i = 0; i < DeviceSettings().size(); ++i) {
    const DeviceSetting& setting = DeviceSettings()[i];
    const ReplyResult& reply = LastRead.settings[i];
    const std::uint8_t written = LastWrite.values[i];
    if (reply.status == ReplyStatus::Good && reply.value == written) continue;
    std::string line =
        std::string(setting.label) + ": " + setting.ValueText(written) + " written, ";
    if (reply.status == ReplyStatus::Good) {
      line += "the device reports " + setting.ValueText(reply.value);
    } else {
      line += std::string("the read-back got ") + ReplyStatusText(reply.status);
    }
    LastWrite.differences.push_back(line);
  }
}

WriteReport::Split WriteReport::SplitBySent(
    const std::function<std::string(const DeviceSetting&, std::uint8_t value, bool sent)>& item)
    const {
  Split split;
  for (std::size_t i = 0; i < DeviceSettings().size(); ++i) {
    std::string& list = sent[i] ? split.sent : split.notSent;
    if (!list.empty()) list += ", ";
    list += item(DeviceSettings()[i], values[i], sent[i]);
  }
  return split;
}

std::string TFormPZRQ480::WriteProgressText() const {
  const auto [sent, notSent] =
      LastWrite.SplitBySent([](const DeviceSetting& setting, std::uint8_t value, bool wasSent) {
        return std::string(setting.label) +
               (wasSent ? " (" + setting.ValueText(value) + ")" : std::string());
      });
  return "The write stopped at an error. Sent to the device before it: " +
         (sent.empty() ? std::string("nothing") : sent) +
         ". Not written: " + (notSent.empty() ? std::string("nothing") : notSent) + ".";
}

}  // namespace configurator
