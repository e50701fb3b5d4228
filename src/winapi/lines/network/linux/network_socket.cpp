// Network sockets on Linux: a non-blocking TCP socket and an eventfd for wake-ups.
#include "lines/network/common/network_socket.h"

#include "winapi/owned_fd.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

// After <netdb.h>, whose getaddrinfo it calls.
#include "lines/network/common/host_lookup.h"

namespace winapi::driver {

struct NetworkSocket::Handles {
  OwnedFd socket;
  OwnedFd wake;
};

namespace {

using Clock = std::chrono::steady_clock;

DWORD WindowsErrorOfConnect(int error) {
  switch (error) {
    case ECONNREFUSED:
      return ERROR_CONNECTION_REFUSED;
    case ETIMEDOUT:
      return WSAETIMEDOUT;
    case ENETUNREACH:
      return ERROR_NETWORK_UNREACHABLE;
    case EHOSTUNREACH:
      return ERROR_HOST_UNREACHABLE;
    default:
      return ERROR_GEN_FAILURE;
  }
}

int PollFor(pollfd* fds, nfds_t count, std::optional<Clock::time_point> deadline) {
  while (true) {
    int timeout = -1;
    if (deadline) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      timeout = left > 0 ? static_cast<int>(left) : 0;
    }
    const int ready = ::poll(fds, count, timeout);
    if (ready >= 0 || errno != EINTR) return ready;
  }
}

// One attempt on one address; the socket on success, else -1 with `error` set.
int ConnectOne(const addrinfo& address, Clock::time_point deadline, int& error) {
  const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          address.ai_protocol);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
    if (errno != EINPROGRESS) {
      error = errno;
      ::close(fd);
      return -1;
    }
    pollfd pfd{fd, POLLOUT, 0};
    const int ready = PollFor(&pfd, 1, deadline);
    if (ready <= 0) {
      error = ready == 0 ? ETIMEDOUT : errno;
      ::close(fd);
      return -1;
    }
    int result = 0;
    socklen_t length = sizeof result;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &length) != 0) result = errno;
    if (result != 0) {
      error = result;
      ::close(fd);
      return -1;
    }
  }
  // Small writes such as one request frame go out at once.
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  // A bridge that lost its power sends no FIN: probes notice it within seconds.
  const int idleSeconds = 5, intervalSeconds = 2, probes = 3;
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
  // Sent data that goes unacknowledged this long means the same.
  const unsigned userTimeoutMs = 15000;
  ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
  return fd;
}

}  // namespace

NetworkSocket::NetworkSocket(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

NetworkSocket::~NetworkSocket() = default;

std::unique_ptr<NetworkSocket> NetworkSocket::Connect(const std::string& host, std::uint16_t port,
                                                      std::chrono::milliseconds limit, DWORD& error,
                                                      std::string& reason) {
  const Clock::time_point deadline = Clock::now() + limit;
  const auto lookup = LookUpHost(host, port, deadline);
  if (!lookup) {
    error = WSAETIMEDOUT;
    reason = "the lookup of host " + host + " gave no answer within " +
             std::to_string(limit.count()) + " ms; check the name server or use an address";
    return nullptr;
  }
  if (lookup->result != 0) {
    error = WSAHOST_NOT_FOUND;
    reason = "unknown host " + host + " (" + ::gai_strerror(lookup->result) + ")";
    return nullptr;
  }
  auto handles = std::make_unique<Handles>();
  int lastError = ETIMEDOUT;
  for (const addrinfo* address = lookup->found; address && !handles->socket.Valid();
       address = address->ai_next) {
    if (Clock::now() >= deadline) break;
    handles->socket = OwnedFd(ConnectOne(*address, deadline, lastError));
  }
  if (!handles->socket.Valid()) {
    error = WindowsErrorOfConnect(lastError);
    reason = lastError == ETIMEDOUT ? "no answer within " + std::to_string(limit.count()) + " ms"
                                    : std::string(std::strerror(lastError));
    return nullptr;
  }
  handles->wake = OwnedFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!handles->wake.Valid()) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    reason = std::strerror(errno);
    return nullptr;
  }
  error = ERROR_SUCCESS;
  return std::unique_ptr<NetworkSocket>(new NetworkSocket(std::move(handles)));
}

std::optional<std::size_t> NetworkSocket::Send(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return 0;
  while (true) {
    const ssize_t sent = ::send(handles_->socket.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<std::size_t>(sent);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return std::nullopt;
  }
}

std::optional<std::size_t> NetworkSocket::Receive(std::span<std::uint8_t> bytes) {
  if (bytes.empty()) return 0;
  while (true) {
    const ssize_t got = ::recv(handles_->socket.Get(), bytes.data(), bytes.size(), 0);
    if (got > 0) return static_cast<std::size_t>(got);
    if (got == 0) return std::nullopt;  // the far end closed
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return std::nullopt;
  }
}

bool NetworkSocket::Wait(bool read, bool write, std::optional<std::chrono::milliseconds> limit,
                         bool wakeable) {
  const short events = static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0));
  pollfd fds[2] = {{handles_->socket.Get(), events, 0}, {handles_->wake.Get(), POLLIN, 0}};
  std::optional<Clock::time_point> deadline;
  if (limit) deadline = Clock::now() + *limit;
  PollFor(fds, wakeable ? 2 : 1, deadline);
  if (wakeable && (fds[1].revents & POLLIN)) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t ignored = ::read(handles_->wake.Get(), &count, sizeof count);
  }
  return (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}

void NetworkSocket::Wake() {
  const std::uint64_t one = 1;
  // A full counter already means "wake up"; nothing else can go wrong here.
  [[maybe_unused]] const ssize_t ignored = ::write(handles_->wake.Get(), &one, sizeof one);
}

}  // namespace winapi::driver
