// Start-up (lists and the port probe), shut-down and the information box.
#include "configurator/form_pzrq480.h"
#include "winapi/network_port.h"
#include "winapi/port_probe.h"

namespace configurator {

namespace {

constexpr int kFirstProbedPort = 1;
constexpr int kLastProbedPort = 20;

}  // namespace

void TFormPZRQ480::FormCreate() {
  app_.SetTitle("PZ-RQ480 PC interface configurator");
  for (const DeviceSetting& setting : DeviceSettings()) {
    if (setting.coding == ValueCoding::DecimalText) FillList(setting);
  }

  if (!ComPort) {
    ComPort = new comport::TComPort(this);
    ComPort->OnRxChar = [this](comport::TObject* sender, std::int32_t count) {
      PortRxChar(sender, count);
    };
  }

  cbPort.Clear();
  const winapi::PortProbe probe;
  for (int i = kFirstProbedPort; i <= kLastProbedPort; ++i) {
    if (ComPort->Connected()) ComPort->Close();
    const std::string name = "COM" + std::to_string(i);
    // A network port may take seconds to answer or fail: listed without a probe, so the
    // window never waits for the network; opening it for a read or write tells.
    if (winapi::OpensNetworkPort(name)) {
      cbPort.Add(name);
      continue;
    }
    ComPort->SetPort(name);
    ComPort->SetBaudRate(comport::br19200);
    try {
      ComPort->Open();
      if (ComPort->Connected()) cbPort.Add(name);
      ComPort->Close();
    } catch (const comport::EComPort&) {
      // Absent or busy: simply not listed.
    }
  }
  if (!cbPort.Items().empty()) cbPort.SetItemIndex(0);
}

void TFormPZRQ480::FormDestroy() {
  if (!ComPort) return;
  // Closing may still deliver received bytes to PortRxChar, so the port stays reachable
  // until it is closed; it is freed even when closing fails.
  struct Free {
    comport::TComPort*& port;
    ~Free() {
      comport::TComPort* freed = port;
      port = nullptr;
      delete freed;
    }
  } free{ComPort};
  if (ComPort->Connected()) ComPort->Close();
}

void TFormPZRQ480::SpeedButton1Click() {
  app_.ShowMessage(
      "PZ-RQ480, PC interface configurator\r\n\r\n"
      "Made by and for model railway hobbyists; the device belongs to its maker.");
}

bool TFormPZRQ480::FormCloseQuery() {
  if (!busy_) return true;
  abandon_ = true;
  return false;
}

}  // namespace configurator
