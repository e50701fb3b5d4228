// Network sockets on Windows (Winsock): a non-blocking TCP socket, and for wake-ups a UDP
// socket on the loopback address that sends itself a datagram, since WSAPoll waits on
// sockets only.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // WSAPoll
#endif
#include <winsock2.h>
#include <mstcpip.h>
#include <ws2tcpip.h>

#include "lines/network/common/host_lookup.h"  // after <ws2tcpip.h>, whose getaddrinfo it calls
#include "lines/network/common/network_socket.h"
#include "winapi/system_error_text.h"

namespace winapi::driver {

struct NetworkSocket::Handles {
  SOCKET socket = INVALID_SOCKET;
  SOCKET wake = INVALID_SOCKET;
  ~Handles() {
    if (socket != INVALID_SOCKET) ::closesocket(socket);
    if (wake != INVALID_SOCKET) ::closesocket(wake);
  }
};

namespace {

using Clock = std::chrono::steady_clock;

// Winsock is started once for the process and left running until it ends.
bool StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

DWORD WindowsErrorOfConnect(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return ERROR_CONNECTION_REFUSED;
    case WSAETIMEDOUT:
      return WSAETIMEDOUT;
    case WSAENETUNREACH:
      return ERROR_NETWORK_UNREACHABLE;
    case WSAEHOSTUNREACH:
      return ERROR_HOST_UNREACHABLE;
    default:
      return ERROR_GEN_FAILURE;
  }
}

std::string ReasonOf(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return "connection refused";
    case WSAENETUNREACH:
      return "network unreachable";
    case WSAEHOSTUNREACH:
      return "host unreachable";
    default:
      return SystemErrorText(static_cast<DWORD>(error));
  }
}

bool SetNonBlocking(SOCKET s) {
  u_long on = 1;
  return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

SOCKET ConnectOne(const addrinfo& address, Clock::time_point deadline, int& error) {
  SOCKET s = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
  if (s == INVALID_SOCKET || !SetNonBlocking(s)) {
    error = ::WSAGetLastError();
    if (s != INVALID_SOCKET) ::closesocket(s);
    return INVALID_SOCKET;
  }
  if (::connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
    if (::WSAGetLastError() != WSAEWOULDBLOCK) {
      error = ::WSAGetLastError();
      ::closesocket(s);
      return INVALID_SOCKET;
    }
    // select, not WSAPoll: WSAPoll does not report a refused connection on every version.
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    const int ms = MillisecondsUntil(deadline);
    timeval timeout{ms / 1000, (ms % 1000) * 1000};
    const int ready = ::select(0, nullptr, &writable, &failed, &timeout);
    if (ready <= 0) {
      error = ready == 0 ? WSAETIMEDOUT : ::WSAGetLastError();
      ::closesocket(s);
      return INVALID_SOCKET;
    }
    int result = 0;
    int length = sizeof result;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &length) != 0) {
      result = ::WSAGetLastError();
    }
    if (result == 0 && FD_ISSET(s, &failed)) result = WSAECONNREFUSED;
    if (result != 0) {
      error = result;
      ::closesocket(s);
      return INVALID_SOCKET;
    }
  }
  const BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  // A bridge that lost its power sends no FIN: probes notice it within seconds.
  ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&one), sizeof one);
  tcp_keepalive probes{1, 5000, 1000};
  DWORD returned = 0;
  ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &probes, sizeof probes, nullptr, 0, &returned, nullptr,
             nullptr);
  return s;
}

// A UDP socket on 127.0.0.1 connected to itself.
SOCKET WakeSocket() {
  SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      !SetNonBlocking(s)) {
    ::closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

}  // namespace

NetworkSocket::NetworkSocket(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

NetworkSocket::~NetworkSocket() = default;

std::unique_ptr<NetworkSocket> NetworkSocket::Connect(const std::string& host, std::uint16_t port,
                                                      std::chrono::milliseconds limit, DWORD& error,
                                                      std::string& reason) {
  if (!StartWinsock()) {
    error = ERROR_GEN_FAILURE;
    reason = "Winsock cannot start";
    return nullptr;
  }
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
    reason = "unknown host " + host;
    return nullptr;
  }
  auto handles = std::make_unique<Handles>();
  int lastError = WSAETIMEDOUT;
  for (const addrinfo* address = lookup->found; address && handles->socket == INVALID_SOCKET;
       address = address->ai_next) {
    if (Clock::now() >= deadline) break;
    handles->socket = ConnectOne(*address, deadline, lastError);
  }
  if (handles->socket == INVALID_SOCKET) {
    error = WindowsErrorOfConnect(lastError);
    reason = lastError == WSAETIMEDOUT ? "no answer within " + std::to_string(limit.count()) + " ms"
                                       : ReasonOf(lastError);
    return nullptr;
  }
  handles->wake = WakeSocket();
  if (handles->wake == INVALID_SOCKET) {
    error = ERROR_GEN_FAILURE;
    reason = "no wake-up socket: error " + std::to_string(::WSAGetLastError());
    return nullptr;
  }
  error = ERROR_SUCCESS;
  return std::unique_ptr<NetworkSocket>(new NetworkSocket(std::move(handles)));
}

std::optional<std::size_t> NetworkSocket::Send(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return 0;
  const int sent = ::send(handles_->socket, reinterpret_cast<const char*>(bytes.data()),
                          static_cast<int>(bytes.size()), 0);
  if (sent >= 0) return static_cast<std::size_t>(sent);
  if (::WSAGetLastError() == WSAEWOULDBLOCK) return 0;
  return std::nullopt;
}

std::optional<std::size_t> NetworkSocket::Receive(std::span<std::uint8_t> bytes) {
  if (bytes.empty()) return 0;
  const int got = ::recv(handles_->socket, reinterpret_cast<char*>(bytes.data()),
                         static_cast<int>(bytes.size()), 0);
  if (got > 0) return static_cast<std::size_t>(got);
  if (got == 0) return std::nullopt;  // the far end closed
  if (::WSAGetLastError() == WSAEWOULDBLOCK) return 0;
  return std::nullopt;
}

bool NetworkSocket::Wait(bool read, bool write, std::optional<std::chrono::milliseconds> limit,
                         bool wakeable) {
  const SHORT events = static_cast<SHORT>((read ? POLLRDNORM : 0) | (write ? POLLWRNORM : 0));
  // WSAPoll refuses an entry that asks for nothing: such a socket is left out.
  WSAPOLLFD fds[2] = {{handles_->socket, events, 0}, {handles_->wake, POLLRDNORM, 0}};
  WSAPOLLFD* first = events ? &fds[0] : &fds[1];
  const ULONG count = (events ? 1 : 0) + (wakeable ? 1 : 0);
  const int timeout = limit ? static_cast<int>(limit->count()) : -1;
  if (count == 0) {
    ::Sleep(timeout < 0 ? INFINITE : static_cast<DWORD>(timeout));
    return false;
  }
  ::WSAPoll(first, count, timeout);
  if (wakeable && (fds[1].revents & POLLRDNORM)) {
    char drain[16];
    while (::recv(handles_->wake, drain, sizeof drain, 0) > 0) {
    }
  }
  return (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}

void NetworkSocket::Wake() {
  const char one = 1;
  // A datagram already waiting means "wake up" just as well.
  ::send(handles_->wake, &one, 1, 0);
}

}  // namespace winapi::driver
