// The parts of a network port name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace winapi::driver {

struct NetworkAddress {
  bool telnet = false;  // rfc2217://, else tcp://
  std::string host;     // without the brackets of an IPv6 address
  std::uint16_t port = 0;
};

// The address of "rfc2217://host:port" or "tcp://host:port" (scheme in any letter case,
// "[v6]:port" for IPv6); nothing when the name is malformed or no network port name.
std::optional<NetworkAddress> ParseNetworkAddress(const std::string& name);

}  // namespace winapi::driver
