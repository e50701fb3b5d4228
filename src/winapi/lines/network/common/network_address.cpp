#include "lines/network/common/network_address.h"

#include "driver/common/device_open.h"
#include "winapi/ascii_case.h"
#include "winapi/network_port.h"

#include <array>
#include <string_view>

namespace winapi {
namespace {

struct Scheme {
  std::string_view prefix;
  bool telnet;
};

constexpr std::array<Scheme, 2> kSchemes{{{"rfc2217://", true}, {"tcp://", false}}};

const Scheme* SchemeOf(std::string_view name) {
  for (const Scheme& scheme : kSchemes) {
    if (name.size() >= scheme.prefix.size() &&
        EqualsIgnoringAsciiCase(name.substr(0, scheme.prefix.size()), scheme.prefix)) {
      return &scheme;
    }
  }
  return nullptr;
}

std::optional<std::uint16_t> PortNumber(std::string_view text) {
  if (text.empty() || text.size() > 5 || text[0] == '0') return std::nullopt;
  unsigned number = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + static_cast<unsigned>(c - '0');
  }
  if (number > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(number);
}

}  // namespace

bool IsNetworkPortName(const std::string& name) {
  return SchemeOf(driver::DeviceNameOf(name)) != nullptr;
}

namespace driver {

std::optional<NetworkAddress> ParseNetworkAddress(const std::string& name) {
  const std::string device = DeviceNameOf(name);
  const Scheme* scheme = SchemeOf(device);
  if (!scheme) return std::nullopt;
  std::string_view rest = std::string_view(device).substr(scheme->prefix.size());
  NetworkAddress address;
  address.telnet = scheme->telnet;
  std::size_t colon = 0;
  if (!rest.empty() && rest[0] == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
      return std::nullopt;
    }
    address.host = std::string(rest.substr(1, close - 1));
    colon = close + 1;
  } else {
    colon = rest.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    address.host = std::string(rest.substr(0, colon));
    if (address.host.find_first_of("[]") != std::string::npos) return std::nullopt;
  }
  if (address.host.empty() || address.host.find_first_of("/ ") != std::string::npos) {
    return std::nullopt;
  }
  const auto port = PortNumber(rest.substr(colon + 1));
  if (!port) return std::nullopt;
  address.port = *port;
  return address;
}

}  // namespace driver
}  // namespace winapi
