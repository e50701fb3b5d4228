#include "configurator/command_line/port_list.h"

#include "configurator/command_line/report.h"

namespace configurator::command_line {

namespace {

using winapi::PortDescription;
using winapi::PortState;

// A name for each state that scripts can compare with.
const char* StateKey(PortState state) {
  switch (state) {
    case PortState::kUsable:
      return "usable";
    case PortState::kNetwork:
      return "network";
    case PortState::kMissing:
      return "missing";
    case PortState::kNotTerminal:
      return "notSerial";
    case PortState::kInUse:
      return "inUse";
    case PortState::kConsole:
      return "console";
    case PortState::kLocked:
      return "locked";
    case PortState::kPermissionDenied:
      return "permissionDenied";
    case PortState::kFailed:
      break;
  }
  return "failed";
}

std::string UsbText(const winapi::UsbAdapter& usb) {
  std::string text = usb.manufacturer;
  if (!usb.product.empty()) text += (text.empty() ? "" : " ") + usb.product;
  text += (text.empty() ? "" : " ") + ("(" + usb.vendorId + ":" + usb.productId + ")");
  if (!usb.serialNumber.empty()) text += ", serial " + usb.serialNumber;
  if (!usb.byIdLink.empty()) text += ", " + usb.byIdLink;
  return text;
}

// `"key": "value"` for the fields that are not empty.
void AddText(std::string& json, const char* key, const std::string& value) {
  if (!value.empty()) json += std::string(", \"") + key + "\": " + JsonString(value);
}

}  // namespace

std::string FormatPortsText(const std::vector<PortDescription>& ports) {
  std::string text;
  for (const PortDescription& port : ports) {
    text += port.name + ": ";
    if (!port.devicePath.empty()) text += port.devicePath;
    if (!port.friendlyName.empty()) text += " (" + port.friendlyName + ")";
    if (!port.devicePath.empty() || !port.friendlyName.empty()) text += ": ";
    text += winapi::StateText(port);
    if (port.usb) text += "; " + UsbText(*port.usb);
    text += "\n";
  }
  return text;
}

std::string FormatPortsJson(const std::vector<PortDescription>& ports) {
  std::string json = "[";
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const PortDescription& port = ports[i];
    json += i ? ",\n " : "\n ";
    json += "{\"name\": " + JsonString(port.name);
    json += ", \"device\": " + (port.devicePath.empty() ? "null" : JsonString(port.devicePath));
    AddText(json, "friendlyName", port.friendlyName);
    json += std::string(", \"state\": \"") + StateKey(port.state) + "\"";
    json += ", \"status\": " + JsonString(winapi::StateText(port));
    AddText(json, "reason", winapi::ReasonText(port));
    if (port.holderPid != 0) json += ", \"pid\": " + std::to_string(port.holderPid);
    AddText(json, "program", port.holderProgram);
    AddText(json, "group", port.group);
    if (port.usb) {
      json += ", \"usb\": {\"vendorId\": " + JsonString(port.usb->vendorId) +
              ", \"productId\": " + JsonString(port.usb->productId);
      AddText(json, "manufacturer", port.usb->manufacturer);
      AddText(json, "product", port.usb->product);
      AddText(json, "serialNumber", port.usb->serialNumber);
      AddText(json, "byId", port.usb->byIdLink);
      json += "}";
    }
    json += "}";
  }
  return json + (ports.empty() ? "]\n" : "\n]\n");
}

std::vector<PortDescription> PortsToList(bool all) {
  std::vector<PortDescription> ports = winapi::DescribePorts();
  if (!all)
    std::erase_if(ports, [](const PortDescription& p) { return p.state == PortState::kMissing; });
  return ports;
}

}  // namespace configurator::command_line
