// The port list follows adapters plugged in and out: a change restarts a short delay,
// after which the ports are probed again (later, if a read or write runs then).
#include "configurator/form_pzrq480.h"

#include "configurator/port_hint.h"

#include <algorithm>

namespace configurator {

void TFormPZRQ480::PortsChanged() {
  // Each change restarts the delay: a burst of changes gives one probe.
  reprobeTimer_.SetEnabled(false);
  reprobeTimer_.SetEnabled(true);
}

void TFormPZRQ480::ReprobeTimerTick() {
  reprobeTimer_.SetEnabled(false);
  // Probing opens ports: never in the middle of an operation on one. The end of the
  // operation starts the delay again.
  reprobePending_ = busy_;
  if (!busy_) ReprobePorts();
}

void TFormPZRQ480::ReprobePorts() {
  if (!ComPort) return;
  // A port of our own left open is still there; another object probes the rest, so
  // ComPort keeps its settings.
  comport::TComPort probe(nullptr);
  const std::vector<std::string> names = WithWrittenPorts(
      OpenablePorts(probe, ComPort->Connected() ? ComPort->Port() : std::string()));
  const std::vector<std::string> hints = PortHints(names);
  if (names == cbPort.Items() && hints == cbPort.ItemHints()) return;

  const int index = cbPort.ItemIndex();
  const std::string selected = index >= 0 ? cbPort.Items()[index] : std::string();
  const std::string typed = index < 0 ? cbPort.Text() : std::string();
  FillPortList(names, hints);
  const auto kept = std::find(names.begin(), names.end(), selected);
  if (!selected.empty() && kept != names.end()) {
    cbPort.SetItemIndex(static_cast<int>(kept - names.begin()));
  } else if (!typed.empty()) {
    cbPort.SetText(typed);
  } else if (!names.empty()) {
    // As at start-up: the first port, also in place of one that went away.
    cbPort.SetItemIndex(0);
  }
}

}  // namespace configurator
