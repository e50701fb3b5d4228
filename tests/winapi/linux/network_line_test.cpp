// Network ports through the Windows calls, against a scripted server on 127.0.0.1.
#include "winapi/linux/fake_network_server.h"
#include "winapi/virtual_port.h"
#include "winapi/debug_output.h"

#include <gtest/gtest.h>

#include "winapi/network_port.h"
#include "winapi/port_map.h"

#include <cstdlib>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

namespace winapi_test {
namespace {

using Command = FakeNetworkServer::Command;
using Policy = FakeNetworkServer::Policy;

bool HasCommand(const std::vector<Command>& commands, std::uint8_t code, const Bytes& value) {
  for (const Command& command : commands) {
    if (command.code == code && command.value == value) return true;
  }
  return false;
}

// Collects the debugger output, where a failed open tells why.
class DebugText {
 public:
  DebugText() {
    winapi::SetDebugOutputSink([this](std::string_view text) {
      std::lock_guard lock(mutex_);
      text_ += std::string(text) + "\n";
    });
  }
  ~DebugText() { winapi::SetDebugOutputSink(nullptr); }
  std::string Text() {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  std::mutex mutex_;
  std::string text_;
};

class NetworkPort : public ::testing::Test {
 protected:
  void TearDown() override {
    if (port != INVALID_HANDLE_VALUE) winapi::CloseHandle(port);
    if (event) winapi::CloseHandle(event);
  }

  void Open(const std::string& url) {
    port = OpenPort(url);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << winapi::GetLastError();
    event = winapi::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    ASSERT_TRUE(winapi::SetCommTimeouts(port, &timeouts));
  }

  // Waits for the event mask's next events.
  DWORD WaitEvents(DWORD mask) {
    EXPECT_TRUE(winapi::SetCommMask(port, mask));
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD events = 0;
    if (!winapi::WaitCommEvent(port, &events, &overlapped)) {
      EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
      EXPECT_EQ(winapi::WaitForSingleObject(event, kLongWaitMs), WAIT_OBJECT_0);
      DWORD done = 0;
      EXPECT_TRUE(winapi::GetOverlappedResult(port, &overlapped, &done, FALSE));
    }
    return events;
  }

  // Reads `count` bytes, waiting for them.
  Bytes Read(std::size_t count) {
    Bytes bytes;
    while (bytes.size() < count) {
      std::uint8_t chunk[64];
      DWORD done = 0;
      OVERLAPPED overlapped{};
      overlapped.hEvent = event;
      if (!winapi::ReadFile(port, chunk, static_cast<DWORD>(count - bytes.size()), &done,
                            &overlapped)) {
        EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        EXPECT_TRUE(winapi::GetOverlappedResult(port, &overlapped, &done, TRUE));
      }
      bytes.insert(bytes.end(), chunk, chunk + done);
      if (done == 0 && WaitEvents(EV_RXCHAR) == 0) break;
    }
    return bytes;
  }

  void Write(const Bytes& bytes) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD done = 0;
    if (!winapi::WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &done,
                           &overlapped)) {
      ASSERT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
      ASSERT_TRUE(winapi::GetOverlappedResult(port, &overlapped, &done, TRUE));
    }
    ASSERT_EQ(done, bytes.size());
  }

  BOOL SetSpeed(DWORD baud, BYTE parity = NOPARITY) {
    DCB dcb{};
    EXPECT_TRUE(winapi::GetCommState(port, &dcb));
    dcb.BaudRate = baud;
    dcb.Parity = parity;
    return winapi::SetCommState(port, &dcb);
  }

  HANDLE port = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;
};

TEST_F(NetworkPort, RawTcpCarriesEveryByteAsItIsAndNoSettings) {
  FakeNetworkServer server(Policy().Telnet(false));
  Open(server.Url());
  EXPECT_TRUE(SetSpeed(57600, EVENPARITY));
  Write({0x01, 0xFF, 0xF0, 0xFF});
  EXPECT_TRUE(server.WaitFor([](const Bytes& data, auto&) { return data.size() >= 4; }));
  EXPECT_EQ(server.Data(), (Bytes{0x01, 0xFF, 0xF0, 0xFF}));

  server.Send({0xFF, 0xFA, 0x02});
  EXPECT_EQ(Read(3), (Bytes{0xFF, 0xFA, 0x02}));
  DWORD modem = 1;
  EXPECT_TRUE(winapi::GetCommModemStatus(port, &modem));
  EXPECT_EQ(modem, 0u);
}

TEST_F(NetworkPort, ReceivedBytesRaiseRxCharAndWaitInTheQueue) {
  FakeNetworkServer server(Policy().Telnet(false));
  Open(server.Url());
  EXPECT_TRUE(winapi::SetCommMask(port, EV_RXCHAR));
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  DWORD events = 0;
  ASSERT_FALSE(winapi::WaitCommEvent(port, &events, &overlapped));
  server.Send({0x10, 0x20, 0x30});
  ASSERT_EQ(winapi::WaitForSingleObject(event, kLongWaitMs), WAIT_OBJECT_0);
  EXPECT_EQ(events, static_cast<DWORD>(EV_RXCHAR));
  COMSTAT stat{};
  for (int i = 0; i < 1000 && stat.cbInQue < 3; ++i) {
    ASSERT_TRUE(winapi::ClearCommError(port, nullptr, &stat));
    if (stat.cbInQue < 3) WaitEvents(EV_RXCHAR);
  }
  EXPECT_EQ(stat.cbInQue, 3u);
  ASSERT_TRUE(winapi::PurgeComm(port, PURGE_RXCLEAR));
  ASSERT_TRUE(winapi::ClearCommError(port, nullptr, &stat));
  EXPECT_EQ(stat.cbInQue, 0u);
}

TEST_F(NetworkPort, TelnetSendsTheSettingsAndDoublesIacBothWays) {
  FakeNetworkServer server;
  Open(server.Url());
  // At open: the report masks, and no setting the program did not make.
  Write({0x00});
  EXPECT_TRUE(server.WaitFor([](const Bytes& data, auto&) { return data.size() == 1; }));
  ASSERT_EQ(server.Commands().size(), 2u);
  EXPECT_TRUE(HasCommand(server.Commands(), 10, {0x1E}));
  EXPECT_TRUE(HasCommand(server.Commands(), 11, {0xFF}));
  server.ClearCommands();
  ASSERT_TRUE(SetSpeed(57600, ODDPARITY));
  EXPECT_TRUE(HasCommand(server.Commands(), 1, {0, 0, 0xE1, 0}));
  EXPECT_TRUE(HasCommand(server.Commands(), 3, {2}));

  Write({0x01, 0xFF, 0x02});
  EXPECT_TRUE(server.WaitFor([](const Bytes& data, auto&) { return data.size() >= 4; }));
  EXPECT_EQ(server.Data(), (Bytes{0x00, 0x01, 0xFF, 0x02}));

  server.Send({0x03, 0xFF, 0xFF, 0x04, 0xFF, 0xF1, 0x05});
  EXPECT_EQ(Read(4), (Bytes{0x03, 0xFF, 0x04, 0x05}));

  server.ClearCommands();
  ASSERT_TRUE(winapi::PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR));
  EXPECT_TRUE(server.WaitFor(
      [](auto&, const std::vector<Command>& commands) { return HasCommand(commands, 12, {3}); }));
}

TEST_F(NetworkPort, ASpeedTheServerRefusesFailsSetCommState) {
  FakeNetworkServer server(Policy().AnswerSpeedWith(9600));
  Open(server.Url());
  EXPECT_FALSE(SetSpeed(57600, EVENPARITY));
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  for (const Command& command : server.Commands()) {
    EXPECT_TRUE(command.code == 1 || command.code >= 10) << "sent " << int(command.code);
  }
  DCB dcb{};
  ASSERT_TRUE(winapi::GetCommState(port, &dcb));
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_TRUE(SetSpeed(9600));
}

TEST_F(NetworkPort, ASettingTheServerAnswersWithAnotherValueFailsAndIsSentAgain) {
  FakeNetworkServer server(Policy().AnsweringWith(3, 1));
  Open(server.Url());
  EXPECT_FALSE(SetSpeed(9600, EVENPARITY));
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  server.ClearCommands();
  EXPECT_FALSE(SetSpeed(9600, EVENPARITY));
  EXPECT_TRUE(HasCommand(server.Commands(), 3, {3}));
}

TEST_F(NetworkPort, AnUnansweredSpeedFailsButUnansweredOtherSettingsAreTolerated) {
  FakeNetworkServer quiet(Policy().NoOtherAnswers());
  Open(quiet.Url());
  EXPECT_TRUE(SetSpeed(38400, EVENPARITY));
  winapi::CloseHandle(port);

  FakeNetworkServer mute(Policy().NoSpeedAnswer());
  Open(mute.Url());
  EXPECT_FALSE(SetSpeed(38400));
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
}

TEST_F(NetworkPort, ModemAndLineStateReportsBecomeEvents) {
  FakeNetworkServer server;
  Open(server.Url());
  ASSERT_TRUE(winapi::SetCommMask(port, EV_CTS | EV_DSR | EV_ERR));
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  DWORD events = 0;
  ASSERT_FALSE(winapi::WaitCommEvent(port, &events, &overlapped));
  server.ReportModem(0x33);  // CTS and DSR came on
  ASSERT_EQ(winapi::WaitForSingleObject(event, kLongWaitMs), WAIT_OBJECT_0);
  EXPECT_EQ(events, static_cast<DWORD>(EV_CTS | EV_DSR));
  DWORD modem = 0;
  ASSERT_TRUE(winapi::GetCommModemStatus(port, &modem));
  EXPECT_EQ(modem, static_cast<DWORD>(MS_CTS_ON | MS_DSR_ON));

  ASSERT_FALSE(winapi::WaitCommEvent(port, &events, &overlapped));
  server.ReportModem(0x32);  // DSR went off and on again between two reports
  ASSERT_EQ(winapi::WaitForSingleObject(event, kLongWaitMs), WAIT_OBJECT_0);
  EXPECT_EQ(events, static_cast<DWORD>(EV_DSR));
  ASSERT_TRUE(winapi::GetCommModemStatus(port, &modem));
  EXPECT_EQ(modem, static_cast<DWORD>(MS_CTS_ON | MS_DSR_ON));

  ASSERT_FALSE(winapi::WaitCommEvent(port, &events, &overlapped));
  server.Send(FakeNetworkServer::ComPortCommand(106, {0x08}));
  ASSERT_EQ(winapi::WaitForSingleObject(event, kLongWaitMs), WAIT_OBJECT_0);
  EXPECT_EQ(events, static_cast<DWORD>(EV_ERR));
  DWORD errors = 0;
  ASSERT_TRUE(winapi::ClearCommError(port, &errors, nullptr));
  EXPECT_EQ(errors, static_cast<DWORD>(CE_FRAME));
}

TEST_F(NetworkPort, TheFarEndClosingFailsPendingAndLaterCallsAsAnUnpluggedAdapter) {
  for (const bool telnet : {false, true}) {
    SCOPED_TRACE(telnet ? "telnet" : "raw");
    FakeNetworkServer server(Policy().Telnet(telnet));
    Open(server.Url());
    COMMTIMEOUTS timeouts{0, 0, 0, 0, 0};  // no time-out: only the close ends the read
    ASSERT_TRUE(winapi::SetCommTimeouts(port, &timeouts));
    std::uint8_t buffer[8];
    DWORD done = 0;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    ASSERT_FALSE(winapi::ReadFile(port, buffer, sizeof buffer, &done, &overlapped));
    ASSERT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    server.Disconnect();
    EXPECT_FALSE(winapi::GetOverlappedResult(port, &overlapped, &done, TRUE));
    EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_FALSE(winapi::WriteFile(port, buffer, 1, &done, &overlapped));
    EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_TRUE(winapi::CloseHandle(port));
    port = INVALID_HANDLE_VALUE;
  }
}

TEST_F(NetworkPort, WritesOfAnySizeGoThroughWhole) {
  Bytes big(1 << 20);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = i < 20000 ? 0xFF : std::uint8_t(i * 7);
  for (const bool telnet : {false, true}) {
    SCOPED_TRACE(telnet ? "telnet" : "raw");
    FakeNetworkServer server(Policy().Telnet(telnet));
    Open(server.Url());
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 30000};
    ASSERT_TRUE(winapi::SetCommTimeouts(port, &timeouts));
    Write(big);
    EXPECT_TRUE(
        server.WaitFor([&big](const Bytes& data, auto&) { return data.size() >= big.size(); }));
    EXPECT_TRUE(server.Data() == big);
    winapi::CloseHandle(port);
    port = INVALID_HANDLE_VALUE;
  }
}

TEST_F(NetworkPort, TheLastBytesBeforeTheFarEndClosesAreRead) {
  for (const bool telnet : {false, true}) {
    for (int run = 0; run < 8; ++run) {
      SCOPED_TRACE(std::string(telnet ? "telnet" : "raw") + " run " + std::to_string(run));
      FakeNetworkServer server(Policy().Telnet(telnet));
      Open(server.Url());
      COMMTIMEOUTS timeouts{0, 0, 0, 0, 0};
      ASSERT_TRUE(winapi::SetCommTimeouts(port, &timeouts));
      std::uint8_t buffer[5] = {};
      DWORD done = 0;
      OVERLAPPED overlapped{};
      overlapped.hEvent = event;
      ASSERT_FALSE(winapi::ReadFile(port, buffer, sizeof buffer, &done, &overlapped));
      server.Send({0x02, 0x21, 0x01, 0x20, 0x03});
      server.Disconnect();
      EXPECT_TRUE(winapi::GetOverlappedResult(port, &overlapped, &done, TRUE))
          << winapi::GetLastError();
      EXPECT_EQ(done, 5u);
      winapi::CloseHandle(port);
      port = INVALID_HANDLE_VALUE;
    }
  }
}

// Only data after the agreement is the device's, and telnet commands never become data.
TEST_F(NetworkPort, ThePortReadsOnlyTheDevicesData) {
  struct Case {
    Bytes first;  // before the agreement
    Bytes after;
    Bytes read;
  };
  const std::vector<Case> cases = {
      {{0x02, 0x99, 0x09, 0x92}, {0x02, 0x12, 0x10}, {0x02, 0x12, 0x10}},
      {{}, {0xFF, 0xFA, 0x2C, 0x41, 0x41, 0xFF, 0xFA, 0x2C, 0x6B, 0xF0, 0xFF, 0xF0, 0x05}, {0x05}},
      {{}, {0xFF, 0xFD, 0x07, 0x06}, {0x06}},
  };
  for (const Case& c : cases) {
    DebugText debug;
    FakeNetworkServer server(Policy().SendingFirst(c.first));
    Open(server.Url());
    server.Send(c.after);
    EXPECT_EQ(Read(c.read.size()), c.read);
    if (!c.first.empty()) {
      EXPECT_NE(debug.Text().find("dropped 4 bytes"), std::string::npos) << debug.Text();
    }
    winapi::CloseHandle(port);
    port = INVALID_HANDLE_VALUE;
  }
}

TEST_F(NetworkPort, ALateSpeedAnswerIsNotTakenForTheNextRequest) {
  FakeNetworkServer server(Policy().FirstSpeedAnswerAfter(std::chrono::milliseconds(2300)));
  Open(server.Url());
  EXPECT_FALSE(SetSpeed(19200));
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
  EXPECT_TRUE(SetSpeed(38400)) << winapi::GetLastError();
}

// Data waits while the server suspends it, and a transmit purge drops what waits.
TEST_F(NetworkPort, DataWaitsWhileTheServerSuspendsIt) {
  FakeNetworkServer server;
  Open(server.Url());
  Bytes expected;
  for (const bool purge : {false, true}) {
    SCOPED_TRACE(purge ? "purged" : "resumed");
    server.Send(FakeNetworkServer::ComPortCommand(108, {}));
    server.Send({0x01});
    EXPECT_EQ(Read(1), (Bytes{0x01}));  // the suspension has arrived
    Write({0x41});
    // A command sent after the data arrives while the data still waits.
    ASSERT_TRUE(SetSpeed(purge ? 9600 : 4800));
    EXPECT_EQ(server.Data(), expected);
    if (purge) {
      ASSERT_TRUE(winapi::PurgeComm(port, PURGE_TXCLEAR));
    }
    server.Send(FakeNetworkServer::ComPortCommand(109, {}));
    if (purge) Write({0x42});
    expected.push_back(purge ? 0x42 : 0x41);
    EXPECT_TRUE(server.WaitFor([&](const Bytes& data, auto&) { return data == expected; }));
  }
}

struct OpenFailure {
  std::string name;
  DWORD error;
  std::string reason;
};

TEST(NetworkPortOpen, FailsWithTheErrorAndTellsWhy) {
  std::string closedPort;
  {
    Listener gone;
    closedPort = gone.Url("tcp");
  }
  FakeNetworkServer refuses(Policy().Refusing());
  FakeNetworkServer silent(Policy().Silent());
  const std::vector<OpenFailure> cases = {
      {closedPort, ERROR_CONNECTION_REFUSED, "refused"},
      {"rfc2217://nosuchhost.invalid:2217", WSAHOST_NOT_FOUND, "unknown host"},
      {"tcp://127.0.0.1", ERROR_INVALID_NAME, "host:port"},
      {refuses.Url(), ERROR_NOT_SUPPORTED, "tcp://"},
      {silent.Url(), WSAETIMEDOUT, "no telnet"},
  };
  for (const OpenFailure& expected : cases) {
    DebugText debug;
    EXPECT_EQ(OpenPort(expected.name), INVALID_HANDLE_VALUE) << expected.name;
    EXPECT_EQ(winapi::GetLastError(), expected.error) << expected.name;
    EXPECT_NE(debug.Text().find(expected.reason), std::string::npos) << debug.Text();
  }
}

TEST(NetworkPortOpen, AServerThatNeverTakesTheConnectionTimesOut) {
  // A listener whose queue is full drops further connection requests unanswered.
  Listener full(0);
  std::vector<int> waiting;
  for (int i = 0; i < 4; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(full.Port());
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    waiting.push_back(fd);
  }
  DebugText debug;
  EXPECT_EQ(OpenPort(full.Url("tcp")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(WSAETIMEDOUT));
  EXPECT_NE(debug.Text().find("no answer within"), std::string::npos) << debug.Text();
  for (const int fd : waiting) ::close(fd);
}

TEST(NetworkPortOpen, AServerThatClosesAtOnceIsTriedAgain) {
  FakeNetworkServer server(FakeNetworkServer::Policy().ClosingAtOnce(2));
  const HANDLE port = OpenPort(server.Url());
  EXPECT_NE(port, INVALID_HANDLE_VALUE) << winapi::GetLastError();
  if (port != INVALID_HANDLE_VALUE) winapi::CloseHandle(port);
}

// A port-map link may name a network port, so that a COM name stands for it.
TEST_F(NetworkPort, APortMapLinkToANetworkPortOpensIt) {
  namespace fs = std::filesystem;
  FakeNetworkServer server(Policy().Telnet(false));
  const fs::path dir = fs::temp_directory_path() / ("pz-net-map-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::create_symlink(server.Url(), dir / "COM7");
  EXPECT_EQ(winapi::ResolveComPortPathIn("COM7", dir), server.Url());

  const char* before = std::getenv("PZ_PORT_MAP_DIR");
  const std::string saved = before ? before : "";
  ::setenv("PZ_PORT_MAP_DIR", dir.c_str(), 1);
  EXPECT_TRUE(winapi::OpensNetworkPort("COM7"));
  EXPECT_FALSE(winapi::OpensNetworkPort("COM8"));
  Open("COM7");
  Write({0x42});
  EXPECT_TRUE(server.WaitFor([](const Bytes& data, auto&) { return !data.empty(); }));
  EXPECT_EQ(server.Data(), (Bytes{0x42}));
  if (before) {
    ::setenv("PZ_PORT_MAP_DIR", saved.c_str(), 1);
  } else {
    ::unsetenv("PZ_PORT_MAP_DIR");
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace winapi_test
