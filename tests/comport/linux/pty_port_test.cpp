// The port on a real pseudo-terminal, with the test holding the far (master) side.
#include "comport/port.h"
#include "comport/port_test_support.h"
#include "runtime/main_thread.h"
#include "winapi/linux/terminal_test_pty.h"

#include <gtest/gtest.h>

namespace comport {
namespace {

using testing::ExpectPortExtError;
using testing::WaitUntil;

TEST(PtyPort, OpensConfiguresAndMovesBytesBothWays) {
  winapi::testing::PtyPeer peer;
  ASSERT_FALSE(peer.SlavePath().empty());
  TComPort port(nullptr);
  port.SetPort(peer.SlavePath());
  port.SetBaudRate(br19200);
  std::int32_t announced = 0;
  port.OnRxChar = [&](TObject*, std::int32_t count) { announced += count; };
  port.Open();
  ASSERT_TRUE(port.Connected());
  EXPECT_EQ(peer.Settings().c_ospeed, 19200u);

  const std::uint8_t out[] = {0xF0, 0xF0, 0x00};
  EXPECT_EQ(port.Write(out, 3), 3);
  EXPECT_EQ(peer.Receive(3), (std::vector<std::uint8_t>{0xF0, 0xF0, 0x00}));

  peer.Send({0x02, 0x11, 0x22});
  // The receive event reaches the main thread when it processes its messages.
  ASSERT_TRUE(WaitUntil([&] {
    runtime::ProcessMessages();
    return announced >= 3;
  }));
  std::uint8_t in[4] = {};
  EXPECT_EQ(port.Read(in, 4), 3);
  EXPECT_EQ(in[0], 0x02);
  EXPECT_EQ(in[2], 0x22);

  port.SetBaudRate(br57600);  // applied at once while open
  EXPECT_EQ(peer.Settings().c_ospeed, 57600u);
  port.Close();
  EXPECT_FALSE(port.Connected());
}

TEST(PtyPort, SecondPortObjectIsRefusedWhileTheFirstHasIt) {
  winapi::testing::PtyPeer peer;
  ASSERT_FALSE(peer.SlavePath().empty());
  TComPort first(nullptr);
  first.SetPort(peer.SlavePath());
  first.Open();

  TComPort second(nullptr);
  second.SetPort(peer.SlavePath());
  const EComPortExt error = ExpectPortExtError([&] { second.Open(); });
  EXPECT_EQ(error.ErrorCode(), 1);
  EXPECT_EQ(error.Message(), "COM Port Error: Unable to open com port on " + peer.SlavePath());
  EXPECT_NE(error.OsErrorCode(), 0u);
  EXPECT_FALSE(second.Connected());

  first.Close();
  second.Open();  // free again
  EXPECT_TRUE(second.Connected());
}

}  // namespace
}  // namespace comport
