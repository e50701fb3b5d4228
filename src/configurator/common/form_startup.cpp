// Start-up (lists and the port probe), shut-down and the information box.
#include "configurator/form_pzrq480.h"

#include "configurator/port_hint.h"
#include "winapi/ascii_case.h"
#include "winapi/network_port.h"
#include "winapi/port_description.h"
#include "winapi/port_probe.h"

namespace configurator {

namespace {

constexpr unsigned kFirstProbedPort = 1;
constexpr unsigned kLastProbedPort = 20;

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

  const std::vector<std::string> names = WithWrittenPorts(OpenablePorts(*ComPort));
  FillPortList(names, PortHints(names));
  if (!cbPort.Items().empty()) cbPort.SetItemIndex(0);
}

std::vector<std::string> TFormPZRQ480::OpenablePorts(comport::TComPort& port,
                                                     const std::string& held) {
  std::vector<std::string> names;
  const winapi::PortProbe probe;
  auto look = [&](unsigned number) {
    if (port.Connected()) port.Close();
    const std::string name = "COM" + std::to_string(number);
    // A network port may take seconds to answer or fail: listed without a probe, so the
    // window never waits for the network; opening it for a read or write tells.
    if (winapi::OpensNetworkPort(name) ||
        (!held.empty() && winapi::EqualsIgnoringAsciiCase(name, held))) {
      names.push_back(name);
      return;
    }
    port.SetPort(name);
    port.SetBaudRate(comport::br19200);
    try {
      port.Open();
      if (port.Connected()) names.push_back(name);
      port.Close();
    } catch (const comport::EComPort&) {
      // Absent or busy: simply not listed.
    }
  };
  for (unsigned number = kFirstProbedPort; number <= kLastProbedPort; ++number) look(number);
  // Ports the system or the port map knows beyond those, such as a fifth USB adapter's.
  for (const unsigned number : winapi::FurtherComPortNumbers()) look(number);
  return names;
}

void TFormPZRQ480::FillPortList(const std::vector<std::string>& names,
                                const std::vector<std::string>& hints) {
  cbPort.Clear();
  for (std::size_t i = 0; i < names.size(); ++i) cbPort.Add(names[i], hints[i]);
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
