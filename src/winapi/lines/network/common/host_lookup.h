// A host lookup that is given up at a deadline: a name server that does not answer keeps
// only the lookup's own thread. Include the system's resolver header first (<netdb.h>,
// or <ws2tcpip.h> on Windows): both declare the same getaddrinfo.
#pragma once

#include "lines/network/common/call_within.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace winapi::driver {

// The addresses a lookup found; freed with the last reference, which an abandoned
// lookup's own thread may hold.
struct HostLookup {
  int result = -1;  // getaddrinfo's: 0 when `found` holds the addresses
  addrinfo* found = nullptr;

  HostLookup() = default;
  HostLookup(const HostLookup&) = delete;
  HostLookup& operator=(const HostLookup&) = delete;
  ~HostLookup() {
    if (found) ::freeaddrinfo(found);
  }
};

// The TCP addresses of `host`:`port`, or null once `deadline` passed without an answer.
inline std::shared_ptr<const HostLookup> LookUpHost(
    const std::string& host, std::uint16_t port, std::chrono::steady_clock::time_point deadline) {
  return CallWithin<HostLookup>(
      [host, service = std::to_string(port)](HostLookup& lookup) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        lookup.result = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &lookup.found);
      },
      deadline);
}

}  // namespace winapi::driver
