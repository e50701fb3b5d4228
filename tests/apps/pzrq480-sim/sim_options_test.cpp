#include "sim_options.h"

#include <gtest/gtest.h>

namespace sim {
namespace {

using Args = std::vector<std::string>;

TEST(SimOptions, DefaultsAreAFactoryDevice) {
  const SimOptions options = ParseSimOptions({});
  EXPECT_EQ(options.state, device::DeviceState{});
  EXPECT_EQ(options.fault, device::FaultConfig{});
  EXPECT_FALSE(options.comName);
  EXPECT_FALSE(options.logFile);
  EXPECT_FALSE(options.help);
}

TEST(SimOptions, EachOptionSetsItsPart) {
  const SimOptions options = ParseSimOptions({"--com",     "com7",
                                              "--hw",      "2.3",
                                              "--sw=9",    "--address",
                                              "3",         "--baud-rate",
                                              "57600",     "--s88-start",
                                              "65",        "--s88-modules",
                                              "4",         "--command-station",
                                              "1",         "--fault",
                                              "split",     "--fault-gap",
                                              "80",        "--long-length",
                                              "20",        "--log",
                                              "/tmp/x.log"});
  EXPECT_EQ(options.comName, "COM7");
  EXPECT_EQ(options.state.hardwareVersion, 0x23);
  EXPECT_EQ(options.state.softwareVersion, 9);
  EXPECT_EQ(options.state.settings, (std::array<std::uint8_t, 5>{3, 3, 65, 4, 1}));
  EXPECT_EQ(options.state.baudRate, 57600u);
  EXPECT_EQ(options.fault.fault, device::Fault::SplitReply);
  EXPECT_EQ(options.fault.gap, std::chrono::milliseconds(80));
  EXPECT_EQ(options.fault.longLength, 20u);
  EXPECT_EQ(options.logFile, "/tmp/x.log");
}

TEST(SimOptions, FaultNames) {
  const std::pair<const char*, device::Fault> names[] = {
      {"none", device::Fault::None},
      {"silent", device::Fault::Silent},
      {"bad-checksum", device::Fault::BadChecksum},
      {"split", device::Fault::SplitReply},
      {"late", device::Fault::LateReply},
      {"noise", device::Fault::Noise},
      {"long", device::Fault::LongReply},
      {"chatter", device::Fault::Chatter},
      {"echo", device::Fault::Echo},
  };
  for (const auto& [name, fault] : names) {
    EXPECT_EQ(ParseSimOptions({"--fault", name}).fault.fault, fault) << name;
  }
  const auto stop = ParseSimOptions({"--fault=stop-after=3"}).fault;
  EXPECT_EQ(stop.fault, device::Fault::StopAfter);
  EXPECT_EQ(stop.stopAfter, 3u);
}

TEST(SimOptions, StoredSettingsTakeAnyByteSoOddDevicesCanBeTried) {
  EXPECT_EQ(ParseSimOptions({"--address", "0"}).state.Get(device::Setting::XpressNetAddress), 0);
  EXPECT_EQ(ParseSimOptions({"--s88-modules", "255"}).state.Get(device::Setting::S88Modules), 255);
  EXPECT_EQ(ParseSimOptions({"--command-station", "2"}).state.Get(device::Setting::CommandStation),
            2);
}

TEST(SimOptions, BadCommandLinesSayWhatIsWrong) {
  struct Case {
    Args args;
    const char* message;
  };
  const Case cases[] = {
      {{"--bogus"}, "unknown option \"--bogus\""},
      {{"--address"}, "--address needs a value"},
      {{"--address", "256"}, "--address takes a number from 0 to 255, not \"256\""},
      {{"--address", "3x"}, "--address takes a number from 0 to 255, not \"3x\""},
      {{"--address", "-1"}, "--address takes a number from 0 to 255, not \"-1\""},
      {{"--sw", ""}, "--sw takes a number from 0 to 255, not \"\""},
      {{"--hw", "12"}, "--hw takes MAJOR.MINOR (each 0 to 15), not \"12\""},
      {{"--hw", "1.16"}, "--hw MINOR takes a number from 0 to 15, not \"16\""},
      {{"--baud-rate", "9600"}, "--baud-rate takes 19200, 38400, 57600 or 115200, not \"9600\""},
      {{"--fault", "slow"},
       "--fault takes none, silent, bad-checksum, split, late, noise, long, chatter, echo or "
       "stop-after=N, not \"slow\""},
      {{"--fault", "stop-after"},
       "--fault takes none, silent, bad-checksum, split, late, noise, long, chatter, echo or "
       "stop-after=N, not \"stop-after\""},
      {{"--fault", "stop-after=0"},
       "--fault stop-after=N takes a number from 1 to 1000, not \"0\""},
      {{"--com", "COM0"}, "--com takes a name COM1 to COM255, not \"COM0\""},
      {{"--com", "/dev/ttyS0"}, "--com takes a name COM1 to COM255, not \"/dev/ttyS0\""},
      {{"--long-length", "0"}, "--long-length takes a number from 1 to 4096, not \"0\""},
  };
  for (const Case& c : cases) {
    try {
      ParseSimOptions(c.args);
      ADD_FAILURE() << "accepted " << testing::PrintToString(c.args);
    } catch (const UsageError& error) {
      EXPECT_STREQ(error.what(), c.message);
    }
  }
}

TEST(SimOptions, HelpIsRecognisedAnywhere) {
  EXPECT_TRUE(ParseSimOptions({"--sw", "3", "--help"}).help);
  EXPECT_TRUE(ParseSimOptions({"-h"}).help);
}

}  // namespace
}  // namespace sim
