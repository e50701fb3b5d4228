// A connected TCP socket for a network line, in non-blocking mode, with a wait that
// another thread can cut short. One implementation per system (BSD sockets, Winsock).
#pragma once

#include "winapi/types.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace winapi::driver {

class NetworkSocket {
 public:
  // Connects to `host`:`port` (a name or an IPv4/IPv6 address), trying each address of
  // the name until one answers or `limit` passes. On failure returns null with a Windows
  // error (WSAHOST_NOT_FOUND, ERROR_CONNECTION_REFUSED, WSAETIMEDOUT, ...) and a reason.
  static std::unique_ptr<NetworkSocket> Connect(const std::string& host, std::uint16_t port,
                                                std::chrono::milliseconds limit, DWORD& error,
                                                std::string& reason);
  ~NetworkSocket();
  NetworkSocket(const NetworkSocket&) = delete;
  NetworkSocket& operator=(const NetworkSocket&) = delete;

  // Without blocking: the count moved (0 when the socket cannot take or give any now),
  // or nothing once the connection is closed or broken.
  std::optional<std::size_t> Send(std::span<const std::uint8_t> bytes);
  std::optional<std::size_t> Receive(std::span<std::uint8_t> bytes);

  // Blocks until the socket is readable (when `read`), writable (when `write`), closed,
  // or `limit` passes (no limit: nullopt); a wakeable wait also ends when Wake was called
  // since the last wakeable wait ended. Only one thread waits wakeable at a time.
  // Returns true when the connection reported a failure or hang-up.
  bool Wait(bool read, bool write, std::optional<std::chrono::milliseconds> limit, bool wakeable);
  void Wake();

 private:
  struct Handles;
  explicit NetworkSocket(std::unique_ptr<Handles> handles);
  std::unique_ptr<Handles> handles_;
};

}  // namespace winapi::driver
