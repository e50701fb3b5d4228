#include "comport/errors.h"

#include <gtest/gtest.h>

namespace comport {
namespace {

TEST(ErrorText, EveryCodeOfTheTable) {
  const char* expected[] = {"Unable to open com port",
                            "WriteFile function failed",
                            "ReadFile function failed",
                            "Invalid Async parameter",
                            "PurgeComm function failed",
                            "Unable to get async status",
                            "SetCommState function failed",
                            "SetCommTimeouts failed",
                            "SetupComm function failed",
                            "ClearCommError function failed",
                            "GetCommModemStatus function failed",
                            "EscapeCommFunction function failed",
                            "TransmitCommChar function failed",
                            "Cannot set property while connected",
                            "EnumPorts function failed",
                            "Failed to store settings",
                            "Failed to load settings",
                            "Link (un)registration failed",
                            "Cannot change led state if ComPort is selected",
                            "Cannot wait for event if event thread is created",
                            "WaitForEvent method failed",
                            "A component is linked to OnRxBuf event",
                            "Registry error"};
  for (int code = 1; code <= 23; ++code) EXPECT_EQ(ErrorText(code), expected[code - 1]) << code;
}

TEST(ErrorText, CodesOutsideTheTable) {
  EXPECT_EQ(ErrorText(0), "Unknown Error #0");
  EXPECT_EQ(ErrorText(24), "Unknown Error #24");
  EXPECT_EQ(ErrorText(-1), "Unknown Error #-1");
  EXPECT_EQ(ErrorText(-2147483647 - 1), "Unknown Error #-2147483648");
  EXPECT_EQ(ErrorText(2147483647), "Unknown Error #2147483647");
}

TEST(EComPort, MessageNamesThePortFirst) {
  const EComPort error("COM1", 14);
  EXPECT_STREQ(error.what(), "COM1 Error: Cannot set property while connected");
  EXPECT_EQ(error.Message(), "COM1 Error: Cannot set property while connected");
  EXPECT_EQ(error.ErrorCode(), 14);
  EXPECT_EQ(EComPort("X", 200).Message(), "X Error: Unknown Error #200");
}

TEST(EComPortExt, MessageNamesThePortLastAndCarriesTheSystemError) {
  const EComPortExt error("COM3", 7, 31);
  EXPECT_EQ(error.Message(), "COM Port Error: SetCommState function failed on COM3");
  EXPECT_EQ(error.ErrorCode(), 7);
  EXPECT_EQ(error.OsErrorCode(), 31u);
}

TEST(EComPortExt, IsCaughtAsEComPort) {
  try {
    throw EComPortExt("COM9", 1, 2);
  } catch (const EComPort& error) {
    EXPECT_EQ(error.Message(), "COM Port Error: Unable to open com port on COM9");
    EXPECT_EQ(error.ErrorCode(), 1);
    return;
  }
  FAIL() << "not caught as EComPort";
}

}  // namespace
}  // namespace comport
