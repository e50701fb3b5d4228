// "Read settings" and "Write settings": the device's command set driven over the link.
#include "configurator/form_pzrq480.h"
#include "configurator/port_open_error.h"

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
  RunOperation([this] { ReadSettings(); });
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

void TFormPZRQ480::RunOperation(const std::function<void()>& operation) {
  // One operation at a time: a click that arrives while one runs (from a message
  // processed inside it) is ignored.
  if (busy_ || !ComPort) return;
  busy_ = true;
  abandon_ = false;
  try {
    operation();
  } catch (const Abandoned&) {
    EndOperation();
    EndAbandoned();
    return;
  } catch (...) {
    EndOperation();
    throw;
  }
  EndOperation();
  if (abandon_) EndAbandoned();
}

void TFormPZRQ480::EndOperation() {
  busy_ = false;
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

void TFormPZRQ480::ReadSettings() {
  lVer.SetCaption("...");
  for (const DeviceSetting& setting : DeviceSettings()) (this->*setting.list).SetItemIndex(-1);
  LastRead = {};
  if (cbPort.ItemIndex() == -1) return;

  if (!OpenAtSearchRate()) return;

  ShowBusy(true);
  app_.ProcessMessages();
  CheckAbandoned();
  app_.Sleep(kSettleTime);
  app_.ProcessMessages();
  CheckAbandoned();

  FrameDone = 0;
  Timer1.Tag = 0;
  if (QueryVersion()) lVer.SetCaption(VersionCaption(RxBuf[1], RxBuf[2]));

  for (std::size_t i = 0; i < DeviceSettings().size(); ++i) {
    const DeviceSetting& setting = DeviceSettings()[i];
    LastRead.settings[i] = Exchange({kSettingRequest, setting.number, kReadMarker});
    if (LastRead.settings[i].status == ReplyStatus::Good) {
      (this->*setting.list).SetItemIndex(setting.IndexForReply(LastRead.settings[i].value));
    }
  }

  pWait.SetVisible(false);
  ComPort->SetConnected(false);
}

void TFormPZRQ480::WriteSettings() {
  if (!OpenAtSearchRate()) {
    app_.ShowMessage("Not connected!");
    return;
  }
  for (const DeviceSetting& setting : DeviceSettings()) {
    if ((this->*setting.list).ItemIndex() == -1) {
      app_.ShowMessage("Please fill all fields!");
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

  ShowBusy(true);
  app_.ProcessMessages();
  CheckAbandoned();
  for (const bool rateChanging : {false, true}) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (DeviceSettings()[i].changesLineRate != rateChanging) continue;
      SendRequest({kSettingRequest, DeviceSettings()[i].number, values[i]});
      app_.Sleep(kWritePause);
      CheckAbandoned();
    }
  }
  cbSearchBaud.SetItemIndex(newSearchBaud);
  pWait.SetVisible(false);

  ReadSettings();
}

}  // namespace configurator
