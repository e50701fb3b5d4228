// Network ports against servers that flood them: memory and time stay bounded.
#include "winapi/linux/test_listener.h"
#include "winapi/virtual_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace winapi_test {
namespace {

using FloodBytes = std::vector<std::uint8_t>;
using FloodClock = std::chrono::steady_clock;

// Longer than any wait of a port, so a port that keeps its deadlines is done first. Code
// under a sanitizer runs several times slower; the plain builds keep the tight cap that
// tells a kept deadline (3 s) from the waits that used to last the whole flood.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr std::chrono::seconds kFloodCap{20};
#else
constexpr std::chrono::seconds kFloodCap{6};
#endif
constexpr long kResidentGrowthLimit = 64L * 1024 * 1024;

long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

// A server that sends `greeting` and then `unit` over and over, reading nothing, until
// the client goes away or the flood's cap passes.
class Flooder {
 public:
  Flooder(FloodBytes greeting, const FloodBytes& unit) : greeting_(std::move(greeting)) {
    while (chunk_.size() + unit.size() <= 64 * 1024)
      chunk_.insert(chunk_.end(), unit.begin(), unit.end());
    thread_ = std::thread([this] { Serve(); });
  }
  ~Flooder() {
    stop_ = true;
    listener_.Shut();
    thread_.join();
  }
  std::string Url() const { return listener_.Url("rfc2217"); }
  // Whether the flood ran until its cap: the client kept no deadline.
  bool RanToItsCap() const { return ranToCap_; }

 private:
  void Serve() {
    const int client =
        ::accept4(listener_.Descriptor(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0) return;
    ::send(client, greeting_.data(), greeting_.size(), MSG_NOSIGNAL);
    const FloodClock::time_point cap = FloodClock::now() + kFloodCap;
    while (!stop_) {
      if (FloodClock::now() >= cap) {
        ranToCap_ = true;
        break;
      }
      pollfd pfd{client, POLLOUT, 0};
      if (::poll(&pfd, 1, 50) <= 0) continue;
      if ((pfd.revents & (POLLERR | POLLHUP)) ||
          (::send(client, chunk_.data(), chunk_.size(), MSG_NOSIGNAL) < 0 && errno != EAGAIN)) {
        break;
      }
    }
    ::close(client);
  }

  const FloodBytes greeting_;
  FloodBytes chunk_;
  Listener listener_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ranToCap_{false};
  std::thread thread_;
};

// The most the process grew while it ran.
class ResidentWatch {
 public:
  ResidentWatch() : base_(ResidentBytes()) {
    thread_ = std::thread([this] {
      while (!stop_) {
        peak_ = std::max(peak_.load(), ResidentBytes());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  }
  ~ResidentWatch() { Stop(); }
  long Growth() {
    Stop();
    return peak_ - base_;
  }

 private:
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  const long base_;
  std::atomic<long> peak_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct FloodCase {
  const char* name;
  FloodBytes greeting;
  FloodBytes unit;
  // What a program does meanwhile; returns the port, or INVALID_HANDLE_VALUE.
  std::function<HANDLE(const std::string& url)> action;
};

constexpr std::uint8_t IAC = 0xFF, DO = 0xFD, WILL = 0xFB, WONT = 0xFC, NOP = 0xF1;
const FloodBytes kAgree{IAC, DO, 44};

HANDLE OpenFailsInTime(const std::string& url) {
  const HANDLE port = OpenPort(url);
  EXPECT_EQ(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(WSAETIMEDOUT));
  return port;
}

HANDLE OpenAndLetItFlood(const std::string& url) {
  const HANDLE port = OpenPort(url);
  EXPECT_NE(port, INVALID_HANDLE_VALUE) << winapi::GetLastError();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  DWORD modem = 0;
  EXPECT_TRUE(winapi::GetCommModemStatus(port, &modem)) << "the reading loop holds the line";
  return port;
}

HANDLE SetASpeedItNeverAnswers(const std::string& url) {
  const HANDLE port = OpenPort(url);
  EXPECT_NE(port, INVALID_HANDLE_VALUE) << winapi::GetLastError();
  DCB dcb{};
  EXPECT_TRUE(winapi::GetCommState(port, &dcb));
  dcb.BaudRate = 19200;
  EXPECT_FALSE(winapi::SetCommState(port, &dcb));
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
  return port;
}

TEST(NetworkPortFlood, MemoryAndTimeStayBoundedWhateverTheServerSends) {
  const std::vector<FloodCase> cases = {
      {"data before the agreement", {}, {0x41, 0x42}, OpenFailsInTime},
      {"an option turned on and off", kAgree, {IAC, WILL, 3, IAC, WONT, 3}, OpenAndLetItFlood},
      {"data while the speed is unanswered", kAgree, {0x41, 0x42}, SetASpeedItNeverAnswers},
      {"telnet commands without data", kAgree, {IAC, NOP}, OpenAndLetItFlood},
  };
  for (const FloodCase& c : cases) {
    SCOPED_TRACE(c.name);
    Flooder flooder(c.greeting, c.unit);
    ResidentWatch watch;
    const HANDLE port = c.action(flooder.Url());
    if (port != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(winapi::CloseHandle(port));
    }
    EXPECT_FALSE(flooder.RanToItsCap()) << "a wait did not keep its deadline";
    EXPECT_LT(watch.Growth(), kResidentGrowthLimit);
  }
}

}  // namespace
}  // namespace winapi_test
