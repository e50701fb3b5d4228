// Network port names: what counts as one and how it splits.
#include "lines/network/common/network_address.h"
#include "winapi/network_port.h"

#include <gtest/gtest.h>

namespace winapi::driver {
namespace {

TEST(NetworkAddress, SchemesHostsAndPorts) {
  auto address = ParseNetworkAddress("rfc2217://127.0.0.1:2217");
  ASSERT_TRUE(address);
  EXPECT_TRUE(address->telnet);
  EXPECT_EQ(address->host, "127.0.0.1");
  EXPECT_EQ(address->port, 2217);

  address = ParseNetworkAddress("\\\\.\\TCP://layout-pi.local:4001");
  ASSERT_TRUE(address);
  EXPECT_FALSE(address->telnet);
  EXPECT_EQ(address->host, "layout-pi.local");
  EXPECT_EQ(address->port, 4001);

  address = ParseNetworkAddress("tcp://[::1]:65535");
  ASSERT_TRUE(address);
  EXPECT_EQ(address->host, "::1");
  EXPECT_EQ(address->port, 65535);
}

TEST(NetworkAddress, MalformedNamesAreNetworkNamesWithoutAnAddress) {
  for (const char* name :
       {"tcp://", "tcp://host", "tcp://host:", "tcp://:80", "tcp://host:0", "tcp://host:65536",
        "tcp://host:080", "tcp://host:8x", "tcp://::1:80", "tcp://[::1]80", "tcp://[::1",
        "tcp://[]:80", "tcp://host:80/", "rfc2217://a b:80"}) {
    EXPECT_TRUE(IsNetworkPortName(name)) << name;
    EXPECT_FALSE(ParseNetworkAddress(name)) << name;
  }
  for (const char* name : {"COM7", "/dev/ttyUSB0", "udp://host:80", "tcp:/host:80"}) {
    EXPECT_FALSE(IsNetworkPortName(name)) << name;
    EXPECT_FALSE(OpensNetworkPort(name)) << name;
  }
  EXPECT_TRUE(OpensNetworkPort("tcp://127.0.0.1:1"));
}

}  // namespace
}  // namespace winapi::driver
