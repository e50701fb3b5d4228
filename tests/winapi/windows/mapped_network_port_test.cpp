// COM names given to network ports on Windows: map writes them for the current user,
// opening the name opens the network port, the lists see it, unmap takes it away.
#include "winapi/network_port.h"
#include "winapi/port_description.h"
#include "winapi/port_pinning.h"
#include "winapi/winapi.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace winapi {
namespace {

// Nothing listens on port 1 of the loopback address: an open is refused at once.
constexpr char kRefusing[] = "tcp://127.0.0.1:1";

TEST(MappedNetworkPort, MapOpensListsAndUnmapsAComNameOfANetworkPort) {
  const PortPin pin = MapComPort("com249", kRefusing);
  EXPECT_EQ(pin.target, kRefusing);
  EXPECT_NE(pin.link.find("COM249"), std::string::npos);
  EXPECT_TRUE(OpensNetworkPort("COM249"));
  const auto further = FurtherComPortNumbers();
  EXPECT_NE(std::find(further.begin(), further.end(), 249u), further.end());
  // The name reaches the network port: refused there, not missing.
  const HANDLE handle = CreateFileA("\\\\.\\COM249", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);

  EXPECT_EQ(UnmapComPort("COM249").target, kRefusing);
  EXPECT_FALSE(OpensNetworkPort("COM249"));
  EXPECT_THROW(UnmapComPort("COM249"), PortMapError);
}

TEST(MappedNetworkPort, OnlyAFreeComNameAndANetworkPortAreMapped) {
  // A serial device is numbered by Windows; COM1 is a port of this PC (Wine makes one).
  EXPECT_THROW(MapComPort("COM248", "\\\\.\\COM1"), PortMapError);
  EXPECT_THROW(MapComPort("PORT9", kRefusing), PortMapError);
  char device[512];
  if (QueryDosDeviceA("COM1", device, sizeof device) != 0) {
    EXPECT_THROW(MapComPort("COM1", kRefusing), PortMapError);
    EXPECT_FALSE(OpensNetworkPort("COM1"));
  }
  EXPECT_FALSE(OpensNetworkPort("COM248"));
}

}  // namespace
}  // namespace winapi
