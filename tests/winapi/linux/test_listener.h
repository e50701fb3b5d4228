// A listening TCP socket on 127.0.0.1 for tests of network ports.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace winapi_test {

// A listening socket on 127.0.0.1 with a port of the system's choosing.
class Listener {
 public:
  explicit Listener(int backlog = 4) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, backlog) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "no listening socket on 127.0.0.1";
    }
    port_ = ntohs(address.sin_port);
  }
  ~Listener() {
    if (fd_ >= 0) ::close(fd_);
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  int Descriptor() const { return fd_; }
  std::uint16_t Port() const { return port_; }
  std::string Url(const std::string& scheme) const {
    return scheme + "://127.0.0.1:" + std::to_string(port_);
  }
  // Whether a connection waits to be accepted.
  bool HasConnection() const {
    pollfd pfd{fd_, POLLIN, 0};
    return ::poll(&pfd, 1, 0) == 1;
  }
  // Ends a blocked accept.
  void Shut() { ::shutdown(fd_, SHUT_RDWR); }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace winapi_test
