// The client side of the COM-PORT-OPTION byte for byte, without a network.
#include "lines/network/common/rfc2217_session.h"

#include <gtest/gtest.h>

namespace winapi::driver {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t IAC = 0xFF, SB = 0xFA, SE = 0xF0, WILL = 0xFB, WONT = 0xFC, DO = 0xFD,
                       DONT = 0xFE, CPO = 44;

DCB Settings(DWORD baud) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = baud;
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  return dcb;
}

Bytes Command(std::uint8_t code, Bytes value) {
  Bytes wire{IAC, SB, CPO, code};
  for (std::uint8_t b : value) {
    wire.push_back(b);
    if (b == IAC) wire.push_back(IAC);
  }
  wire.push_back(IAC);
  wire.push_back(SE);
  return wire;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class Rfc2217Client : public ::testing::Test {
 protected:
  // Feeds server bytes; returns the data and keeps the reply.
  Bytes Feed(const Bytes& wire) {
    Bytes data;
    reply.clear();
    session.Feed(wire, data, reply);
    return data;
  }
  void Agree() { Feed({IAC, DO, CPO, IAC, WILL, 0, IAC, DO, 0}); }
  // The speed and then the rest, as a network line sends them once the speed is taken.
  DWORD AppendSettings(const DCB& dcb, Bytes& wire) {
    const DWORD error = session.AppendSpeed(dcb, wire);
    if (error == 0) session.AppendFraming(dcb, wire);
    return error;
  }

  Rfc2217Session session;
  Bytes reply;
};

TEST_F(Rfc2217Client, GreetsAndAgreesWithoutAnsweringItsOwnRequestsBack) {
  EXPECT_EQ(session.Greeting(), (Bytes{IAC, WILL, 0, IAC, DO, 0, IAC, WILL, CPO}));
  EXPECT_FALSE(session.ComPortAccepted());
  Agree();
  EXPECT_TRUE(session.ComPortAccepted());
  EXPECT_TRUE(reply.empty()) << "the server only acknowledged what we asked for";

  Bytes masks;
  session.AppendMasks(masks);
  EXPECT_EQ(masks, Join({Command(10, {0x1E}), Command(11, {0xFF})}));
}

TEST_F(Rfc2217Client, RefusesOptionsItDoesNotKnowOnceAndAcceptsSuppressGoAhead) {
  Feed({IAC, WILL, 1, IAC, DO, 24, IAC, WILL, 3});
  EXPECT_EQ(reply, (Bytes{IAC, DONT, 1, IAC, WONT, 24, IAC, DO, 3}));
  Feed({IAC, WILL, 1, IAC, DO, 24, IAC, WILL, 3});
  EXPECT_TRUE(reply.empty()) << "no answer loops";
  Feed({IAC, WONT, 3, IAC, DONT, 0, IAC, DONT, 0});
  EXPECT_EQ(reply, (Bytes{IAC, DONT, 3, IAC, WONT, 0})) << "options that were on";
  // One that is turned on and off without end is answered a few times only.
  for (int i = 0; i < 100; ++i) Feed({IAC, WILL, 3, IAC, WONT, 3});
  EXPECT_TRUE(reply.empty());
}

TEST_F(Rfc2217Client, AnswersTheSignatureRequestAndHonoursSuspend) {
  Agree();
  Feed(Command(100, {}));
  ASSERT_GT(reply.size(), 6u);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 4), (Bytes{IAC, SB, CPO, 0}));
  Feed(Command(100, {'b', 'r', 'i', 'd', 'g', 'e'}));
  EXPECT_TRUE(reply.empty()) << "the server's own signature asks for nothing";
  Feed(Command(108, {}));
  EXPECT_TRUE(session.Suspended());
  Feed(Command(109, {}));
  EXPECT_FALSE(session.Suspended());
}

TEST_F(Rfc2217Client, AServerWithoutTheComPortOptionIsNoticed) {
  Feed({IAC, DONT, CPO});
  EXPECT_TRUE(session.ComPortRefused());
  EXPECT_FALSE(session.ComPortAccepted());
}

TEST_F(Rfc2217Client, TheFirstSettingsAreSentWholeAndLaterOnlyWhatChanged) {
  Agree();
  Bytes wire;
  ASSERT_EQ(AppendSettings(Settings(19200), wire), 0u);
  EXPECT_EQ(wire, Join({Command(1, {0x00, 0x00, 0x4B, 0x00}), Command(2, {8}), Command(3, {1}),
                        Command(4, {1}), Command(5, {1}), Command(5, {8}), Command(5, {11})}));
  EXPECT_TRUE(session.SpeedPending());
  EXPECT_TRUE(session.OthersPending());

  DCB next = Settings(57600);
  next.Parity = EVENPARITY;
  next.StopBits = TWOSTOPBITS;
  next.fDtrControl = DTR_CONTROL_DISABLE;
  wire.clear();
  ASSERT_EQ(AppendSettings(next, wire), 0u);
  EXPECT_EQ(wire, Join({Command(1, {0x00, 0x00, 0xE1, 0x00}), Command(3, {3}), Command(4, {2}),
                        Command(5, {9})}));

  wire.clear();
  ASSERT_EQ(AppendSettings(next, wire), 0u);
  EXPECT_TRUE(wire.empty());
}

TEST_F(Rfc2217Client, FlowControlAndModemLinesBecomeControlCommands) {
  DCB dcb = Settings(9600);
  dcb.fOutxCtsFlow = 1;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  Bytes wire;
  ASSERT_EQ(AppendSettings(dcb, wire), 0u);
  // RTS is the handshake's: no RTS command.
  EXPECT_EQ(wire, Join({Command(1, {0x00, 0x00, 0x25, 0x80}), Command(2, {8}), Command(3, {1}),
                        Command(4, {1}), Command(5, {3}), Command(5, {8})}));
  dcb = Settings(9600);
  dcb.fOutX = dcb.fInX = 1;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  wire.clear();
  ASSERT_EQ(AppendSettings(dcb, wire), 0u);
  EXPECT_EQ(wire, Join({Command(5, {2}), Command(5, {12})}));

  for (auto change :
       {+[](DCB& d) { d.fOutxDsrFlow = 1; }, +[](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; },
        +[](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }}) {
    DCB refused = Settings(4800);
    change(refused);
    wire.clear();
    EXPECT_EQ(AppendSettings(refused, wire), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(wire.empty());
  }
}

TEST_F(Rfc2217Client, TheSpeedAnswerTellsWhetherTheServerTookIt) {
  Bytes wire;
  AppendSettings(Settings(57600), wire);
  Feed(Command(101, {0x00, 0x00, 0xE1, 0x00}));
  EXPECT_FALSE(session.SpeedPending());
  EXPECT_FALSE(session.RefusedSpeed());

  wire.clear();
  AppendSettings(Settings(115200), wire);
  Feed(Command(101, {0x00, 0x00, 0xE1, 0x00}));
  EXPECT_FALSE(session.SpeedPending());
  EXPECT_EQ(session.RefusedSpeed(), 57600u);
  // Not in effect: asked for again with the next settings.
  wire.clear();
  session.AppendSpeed(Settings(115200), wire);
  EXPECT_EQ(wire, Command(1, {0x00, 0x01, 0xC2, 0x00}));

  // An answer that comes after its request was given up on belongs to no later request.
  session.GiveUpSpeed();
  session.AppendSpeed(Settings(19200), wire);
  Feed(Command(101, {0x00, 0x01, 0xC2, 0x00}));
  EXPECT_TRUE(session.SpeedPending());
  Feed(Command(101, {0x00, 0x00, 0x4B, 0x00}));
  EXPECT_FALSE(session.SpeedPending());
  EXPECT_FALSE(session.RefusedSpeed());
}

TEST_F(Rfc2217Client, OtherAnswersAreCountedAndASilentServerIsNotWaitedForTwice) {
  Bytes wire;
  AppendSettings(Settings(9600), wire);
  Feed(Join({Command(101, {0x00, 0x00, 0x25, 0x80}), Command(102, {8}), Command(103, {1}),
             Command(104, {1}), Command(105, {1})}));
  EXPECT_TRUE(session.OthersPending()) << "two control answers are missing";
  EXPECT_FALSE(session.TakeRefusedSetting());
  Feed(Command(105, {12}));  // DTR on was asked for
  const auto refused = session.TakeRefusedSetting();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->code, 5);
  EXPECT_EQ(refused->asked, 8);
  EXPECT_EQ(refused->answered, 12);
  session.GiveUpOthers();
  EXPECT_FALSE(session.OthersPending());

  DCB next = Settings(9600);
  next.fDtrControl = DTR_CONTROL_DISABLE;
  next.ByteSize = 7;
  wire.clear();
  AppendSettings(next, wire);
  EXPECT_EQ(wire, Join({Command(2, {7}), Command(5, {9})}));
  EXPECT_TRUE(session.OthersPending()) << "the data size was answered before";
  Feed(Command(102, {7}));
  EXPECT_FALSE(session.OthersPending()) << "control commands went unanswered before";
}

TEST_F(Rfc2217Client, ModemAndLineStateReportsAreDecoded) {
  const Bytes data = Feed(Join(
      {Bytes{0x10}, Command(107, {0xB1}), Bytes{0xFF, 0xFF}, Command(106, {0x1E}), Bytes{0x20}}));
  EXPECT_EQ(data, (Bytes{0x10, 0xFF, 0x20}));
  EXPECT_EQ(session.ModemStatus(), static_cast<DWORD>(MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON));
  EXPECT_EQ(session.TakeModemChanges(), static_cast<DWORD>(MS_CTS_ON));
  EXPECT_EQ(session.TakeModemChanges(), 0u);
  EXPECT_EQ(session.TakeLineErrors(), static_cast<DWORD>(CE_OVERRUN | CE_RXPARITY | CE_FRAME));
  EXPECT_EQ(session.TakeLineErrors(), 0u);
  EXPECT_TRUE(session.TakeBreak());
  EXPECT_FALSE(session.TakeBreak());
}

TEST_F(Rfc2217Client, PurgesNameTheServerBuffers) {
  Bytes wire;
  session.AppendPurge(true, false, wire);
  session.AppendPurge(false, true, wire);
  session.AppendPurge(true, true, wire);
  session.AppendPurge(false, false, wire);
  EXPECT_EQ(wire, Join({Command(12, {1}), Command(12, {2}), Command(12, {3})}));
}

}  // namespace
}  // namespace winapi::driver
