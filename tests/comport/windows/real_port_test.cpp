// The port component on a real serial port wired to a second one, which the test holds
// through the system's calls (PZ_TEST_PORT_PAIR="COM25,COM26"; skipped without it).
#include "../../winapi/windows/real_port_support.h"
// <windows.h> maps SetPort to a printer call; the component's SetPort is meant here.
#undef SetPort
#include "comport/errors.h"
#include "comport/port.h"
#include "comport/port_test_support.h"
#include "runtime/main_thread.h"

#include <gtest/gtest.h>

#include <vector>

namespace comport {
namespace {

using testing::WaitUntil;

class RealPort : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto pair = winapi_test::PortPairFromEnvironment();
    if (!pair) GTEST_SKIP() << "PZ_TEST_PORT_PAIR names no pair of linked ports";
    names = *pair;
    peer = winapi_test::OpenRealPort(names.second);
    ASSERT_NE(peer, INVALID_HANDLE_VALUE) << GetLastError();
    COMMTIMEOUTS timeouts{0, 0, 2000, 0, 2000};
    ASSERT_TRUE(SetCommTimeouts(peer, &timeouts));
    event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    if (peer != INVALID_HANDLE_VALUE) CloseHandle(peer);
    if (event) CloseHandle(event);
  }

  // Moves bytes on the far side and waits for the transfer to finish.
  DWORD Transfer(bool write, void* data, DWORD count) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    ResetEvent(event);
    DWORD done = 0;
    const BOOL ok = write ? WriteFile(peer, data, count, &done, &overlapped)
                          : ReadFile(peer, data, count, &done, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING &&
        WaitForSingleObject(event, 10000) == WAIT_OBJECT_0) {
      GetOverlappedResult(peer, &overlapped, &done, FALSE);
    }
    return done;
  }

  std::pair<std::string, std::string> names;
  HANDLE peer = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;
};

TEST_F(RealPort, OpensTransfersBothWaysAndAnnouncesReceivedBytes) {
  TComPort port(nullptr);
  port.SetPort(names.first);
  port.SetBaudRate(br19200);
  std::int32_t announced = 0;
  port.OnRxChar = [&](TObject*, std::int32_t count) { announced += count; };
  port.Open();
  ASSERT_TRUE(port.Connected());

  const std::uint8_t out[] = {0xF0, 0xF0, 0x00};
  EXPECT_EQ(port.Write(out, 3), 3);
  std::uint8_t seen[3] = {};
  DWORD got = 0;
  while (got < 3) {
    const DWORD more = Transfer(false, seen + got, 3 - got);
    if (more == 0) break;
    got += more;
  }
  ASSERT_EQ(got, 3u);
  EXPECT_EQ(seen[0], 0xF0);
  EXPECT_EQ(seen[2], 0x00);

  std::uint8_t reply[] = {0x02, 0x12, 0x07, 0x17};
  ASSERT_EQ(Transfer(true, reply, 4), 4u);
  // The event thread hands the receive event to the main thread.
  ASSERT_TRUE(WaitUntil([&] {
    runtime::ProcessMessages();
    return announced >= 4;
  }));
  std::uint8_t in[8] = {};
  std::int32_t read = 0;
  while (read < 4) {
    const std::int32_t more = port.Read(in + read, 4 - read);
    if (more <= 0) break;
    read += more;
  }
  EXPECT_EQ(read, 4);
  EXPECT_EQ(std::vector<std::uint8_t>(in, in + 4), std::vector<std::uint8_t>(reply, reply + 4));
  port.Close();
  EXPECT_FALSE(port.Connected());
}

TEST_F(RealPort, APortThatIsNotThereIsReportedByName) {
  TComPort port(nullptr);
  port.SetPort("COM199");
  try {
    port.Open();
    FAIL() << "COM199 opened";
  } catch (const EComPort& error) {
    EXPECT_EQ(error.Message(), "COM Port Error: Unable to open com port on COM199");
  }
  EXPECT_FALSE(port.Connected());
}

}  // namespace
}  // namespace comport
