#include "configurator/command_line/options.h"
#include "configurator/command_line/port_list.h"
#include "configurator/command_line/report.h"
#include "configurator/command_line/settings_file.h"
#include "form_test_support.h"
#include "tool_test_support.h"

#include <cstdio>
#include <fstream>
#include <random>

namespace configurator::testing {
namespace {

using command_line::Command;
using command_line::ParseOptions;
using command_line::UsageError;

TEST(ToolOptions, CommandsCommonOptionsAndSettings) {
  const auto options = ParseOptions({"write", "--port", "/dev/ttyUSB0", "--baud=57600", "--trace",
                                     "--address", "3", "--command-station", "Tran ZF5"});
  EXPECT_EQ(options.command, Command::Write);
  EXPECT_EQ(options.port, "/dev/ttyUSB0");
  EXPECT_EQ(options.baud, "57600");
  EXPECT_TRUE(options.trace);
  EXPECT_FALSE(options.json);
  EXPECT_EQ(options.settings[0], "3");
  EXPECT_FALSE(options.settings[1]);
  EXPECT_EQ(options.settings[4], "Tran ZF5");
  EXPECT_FALSE(ParseOptions({"read", "--json"}).baud);
  EXPECT_EQ(ParseOptions({"--help"}).command, Command::Help);
  EXPECT_EQ(ParseOptions({"read", "--help"}).command, Command::Help);
}

TEST(ToolOptions, MistakesAreUsageErrors) {
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"fly"},
      {"read", "extra"},
      {"read", "--colour"},
      {"read", "--port"},
      {"read", "--json=yes"},
      {"write"},
      {"read", "--address", "3"},
      {"write", "--address"},
      {"write", "--address", "0"},
      {"write", "--address", "3", "--address", "4"},
      {"read", "--port", "COM3", "--port=COM4"},
      {"read", "--json", "--json"},
      {"read", "--baud", "9600"},
      {"read", "--from", "saved.json"},
      {"read", "--dry-run"},
      {"write", "--dry-run"},
      {"write", "--from"},
      {"write", "--from", "saved.json", "--address", "3"},
  };
  for (const auto& args : wrong) {
    EXPECT_THROW(ParseOptions(args), UsageError) << ::testing::PrintToString(args);
  }
}

// A saved read restores the five settings; anything else is refused with the reason.
TEST(ToolSettingsFile, TakesTheFiveSettingsOfASavedReadAndRefusesTheRest) {
  const std::string settings =
      "\"xpressnetAddress\": 3, \"baudRate\": 57600, \"s88StartAddress\": 65, "
      "\"s88ModuleCount\": 4, \"commandStation\": \"Tran ZF5\"";
  EXPECT_EQ(command_line::ParseSettingsFile(
                "{\"port\": \"COM3\", \"hardwareVersion\": \"9.9\", \"softwareVersion\": 1, "
                "\"settings\": {" +
                settings + "}, \"problems\": [], \"conclusion\": null}"),
            (std::array<int, 5>{2, 2, 64, 3, 1}));
  struct Case {
    std::string text;
    std::string reason;
  };
  const Case refused[] = {
      {"{\"settings\": {" + settings + "}, \"colour\": 1}", "unknown key \"colour\""},
      {"{\"settings\": {" + settings + ", \"volume\": 3}}",
       "unknown key \"volume\" in \"settings\""},
      {"{\"settings\": {\"baudRate\": 57600}}", "\"settings\" has no \"xpressnetAddress\""},
      {"{\"settings\": {" + settings.substr(0, settings.find("3,")) + "32" +
           settings.substr(settings.find("3,") + 1) + "}}",
       "XpressNet address (\"xpressnetAddress\"): 32 is refused; allowed: 1..31"},
      {"{\"settings\": {\"xpressnetAddress\": null}}",
       "\"xpressnetAddress\" is null: the device did not report it when the file was saved"},
      {"{\"model\": \"XR-7\", \"channels\": [1, 2]}", "unknown key \"model\""},
      {"[1, 2]", "not a PZ-RQ480 settings file (one is saved with \"pzrq480-cli read --json\")"},
      {"{\"port\": \"COM3\"}",
       "not a PZ-RQ480 settings file (one is saved with \"pzrq480-cli read --json\"): it has no "
       "\"settings\" object"},
      {"{\"settings\": {", "not valid JSON at byte 15: unexpected end"},
      {std::string(100, '[') + std::string(100, ']'),
       "not valid JSON at byte 18: nested too deeply"},
  };
  for (const Case& c : refused) {
    try {
      command_line::ParseSettingsFile(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const command_line::SettingsFileError& error) {
      EXPECT_EQ(error.what(), c.reason) << c.text;
    }
  }
}

TEST(ToolOptions, SettingValuesByItemTextOrWireValue) {
  const auto& settings = DeviceSettings();
  EXPECT_EQ(settings[0].IndexForText("31"), 30);
  EXPECT_EQ(settings[0].IndexForText("32"), std::nullopt);
  EXPECT_EQ(settings[0].IndexForText("0"), std::nullopt);
  EXPECT_EQ(settings[0].IndexForText("03"), std::nullopt);
  EXPECT_EQ(settings[1].IndexForText("57600"), 2);
  EXPECT_EQ(settings[1].IndexForText("3"), 2);
  EXPECT_EQ(settings[1].IndexForText("0"), std::nullopt);
  EXPECT_EQ(settings[1].IndexForText("9600"), std::nullopt);
  EXPECT_EQ(settings[4].IndexForText("Tran ZF5"), 1);
  EXPECT_EQ(settings[4].IndexForText("1"), 1);
  EXPECT_EQ(settings[4].IndexForText("0"), 0);
  EXPECT_EQ(settings[4].IndexForText("2"), std::nullopt);
  EXPECT_EQ(settings[4].IndexForText("tran"), std::nullopt);
}

TEST(ToolOptions, PortCommandsTakeTheirOperands) {
  const auto map = ParseOptions({"map", "COM11", "/dev/ttyUSB0"});
  EXPECT_EQ(map.command, Command::Map);
  EXPECT_EQ(map.operands, (std::vector<std::string>{"COM11", "/dev/ttyUSB0"}));
  EXPECT_EQ(ParseOptions({"unmap", "COM11"}).operands, std::vector<std::string>{"COM11"});
  EXPECT_TRUE(ParseOptions({"ports", "--all"}).all);
  for (const std::vector<std::string>& wrong :
       std::vector<std::vector<std::string>>{{"map", "COM11"},
                                             {"map", "COM11", "/dev/a", "/dev/b"},
                                             {"unmap"},
                                             {"unmap", "COM1", "COM2"},
                                             {"read", "--all"},
                                             {"ports", "COM3"}}) {
    EXPECT_THROW(ParseOptions(wrong), UsageError) << wrong.front();
  }
}

TEST(ToolOptions, UsageNamesEveryCommandAndOption) {
  const std::string usage = command_line::UsageText();
  for (const char* word : {"ports", "read", "write", "detect", "--port", "--baud", "--json",
                           "--trace", "--help", "--from", "--dry-run", "--address", "--baud-rate",
                           "--s88-start", "--s88-modules", "--command-station"}) {
    EXPECT_NE(usage.find(word), std::string::npos) << word;
  }
}

#ifndef _WIN32
// Whether Python's json module accepts the text.
bool PythonReadsJson(const std::string& text) {
  const std::string path = ::testing::TempDir() + "pz_tool_output.json";
  std::ofstream(path) << text;
  const std::string command =
      "python3 -c 'import json,sys; json.load(sys.stdin)' < '" + path + "' 2>/dev/null";
  const int status = std::system(command.c_str());
  std::remove(path.c_str());
  return status == 0;
}
#define EXPECT_PYTHON_READS_JSON(text) EXPECT_TRUE(PythonReadsJson(text)) << (text)
#else
// No Python beside the Windows test programs; the same text is checked on Linux.
#define EXPECT_PYTHON_READS_JSON(text) static_cast<void>(text)
#endif

// The tool against the emulated device on a virtual line, in this process.
class Tool : public FormTest {
 protected:
  device::DeviceState Stored(std::array<std::uint8_t, 5> settings) {
    device::DeviceState state;
    state.settings = settings;
    return state;
  }
  std::unique_ptr<device::VirtualLineDevice> dev =
      std::make_unique<device::VirtualLineDevice>("COM3", Stored({3, 3, 65, 4, 1}));
};

TEST_F(Tool, PortsShowsEveryPortTheProbeListsAsUsable) {
  auto com7 = winapi::VirtualLine::Create("COM7");
  auto run = RunToolWith({"ports"});
  EXPECT_EQ(run.status, 0) << run.err;
  const auto lines = Lines(run.out);
  for (const std::string& port : WithMachinePorts({"COM3", "COM7"})) {
    const bool listed = std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.rfind(port + ": ", 0) == 0 && line.find(": usable") != std::string::npos;
    });
    EXPECT_TRUE(listed) << port << " in\n" << run.out;
  }
  EXPECT_NE(run.out.find("COM7: virtual line COM7: usable\n"), std::string::npos) << run.out;

  // A port another opener holds is listed with that.
  comport::TComPort holder(nullptr);
  holder.SetPort("COM7");
  holder.Open();
  run = RunToolWith({"ports", "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("{\"name\": \"COM7\", \"device\": \"virtual line COM7\", \"state\": "
                         "\"inUse\", \"status\": \"in use by another program\""),
            std::string::npos)
      << run.out;
  EXPECT_PYTHON_READS_JSON(run.out);
}

TEST(ToolPorts, TextAndJsonCarryDeviceStateHolderAndAdapter) {
  winapi::PortDescription adapter;
  adapter.name = "COM5";
  adapter.devicePath = "/dev/ttyUSB0";
  adapter.state = winapi::PortState::kInUse;
  adapter.holderPid = 812;
  adapter.holderProgram = "minicom";
  adapter.usb = winapi::UsbAdapter{
      "FTDI", "FT232R USB UART", "0403",
      "6001", "A1B2C3",          "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"};
  winapi::PortDescription missing;
  missing.name = "COM6";
  missing.devicePath = "/dev/ttyUSB1";
  const std::vector<winapi::PortDescription> ports = {adapter, missing};
  EXPECT_EQ(command_line::FormatPortsText(ports),
            "COM5: /dev/ttyUSB0: in use by minicom (pid 812); FTDI FT232R USB UART (0403:6001), "
            "serial A1B2C3, /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0\n"
            "COM6: /dev/ttyUSB1: missing\n");
  const std::string json = command_line::FormatPortsJson(ports);
  EXPECT_EQ(json,
            "[\n {\"name\": \"COM5\", \"device\": \"/dev/ttyUSB0\", \"state\": \"inUse\", "
            "\"status\": \"in use by minicom (pid 812)\", \"reason\": \"/dev/ttyUSB0: in use by "
            "minicom (pid 812)\", \"pid\": 812, \"program\": \"minicom\", \"usb\": {\"vendorId\": "
            "\"0403\", \"productId\": \"6001\", \"manufacturer\": \"FTDI\", \"product\": "
            "\"FT232R USB UART\", \"serialNumber\": \"A1B2C3\", \"byId\": "
            "\"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0\"}},\n"
            " {\"name\": \"COM6\", \"device\": \"/dev/ttyUSB1\", \"state\": \"missing\", "
            "\"status\": \"missing\", \"reason\": \"/dev/ttyUSB1: no such device\"}\n]\n");
  EXPECT_PYTHON_READS_JSON(json);
  EXPECT_EQ(command_line::FormatPortsJson({}), "[]\n");
}

TEST_F(Tool, ReadShowsVersionsAndSettings) {
  if (MachinePorts().front() != "COM3") GTEST_SKIP() << "the machine's own ports come first";
  const auto run = RunToolWith({"read"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.out),
            (std::vector<std::string>{"Port: COM3 at 19200 baud", "Hardware version: 1.2",
                                      "Software version: 7", "XpressNet address: 3",
                                      "Baud rate: 57600", "S88 start address: 65",
                                      "S88 module count: 4", "Command station: Tran ZF5"}));
  EXPECT_EQ(run.err, "");
}

TEST_F(Tool, ReadAsJson) {
  const auto run = RunToolWith({"read", "--json", "--port", "COM3"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_PYTHON_READS_JSON(run.out);
  for (const char* part :
       {"\"port\": \"COM3\"", "\"searchBaud\": 19200", "\"hardwareVersion\": \"1.2\"",
        "\"softwareVersion\": 7", "\"xpressnetAddress\": 3", "\"baudRate\": 57600",
        "\"s88StartAddress\": 65", "\"s88ModuleCount\": 4", "\"commandStation\": \"Tran ZF5\"",
        "\"problems\": []", "\"conclusion\": null"}) {
    EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
  }
}

// When nothing could be read, one conclusion on standard error says so, not the same
// "no reply" per request on both streams.
TEST_F(Tool, ALineThatGaveNoValuesIsConcludedOnce) {
  struct Case {
    device::Fault fault;
    std::vector<std::string> args;
    std::string conclusion;
  };
  const std::string check = "; check the port, the cable and the device's power";
  // A starved emulated device can pause long enough for a chattering line to end a frame:
  // "bad checksum" may then follow the reason that matters, before the advice.
  const auto expectConclusion = [&](const Case& c, const std::string& err,
                                    const std::string& json) {
    if (c.fault != device::Fault::Chatter) {
      EXPECT_EQ(err, c.conclusion + "\n");
      if (!json.empty()) {
        EXPECT_NE(json.find("\"conclusion\": " + command_line::JsonString(c.conclusion)),
                  std::string::npos)
            << json;
      }
      return;
    }
    const std::string reason = c.conclusion.substr(0, c.conclusion.size() - check.size());
    EXPECT_EQ(err.rfind(reason, 0), 0u) << err;
    EXPECT_TRUE(err.ends_with(check + "\n")) << err;
    const std::string quoted = command_line::JsonString(reason);
    if (!json.empty()) {
      EXPECT_NE(json.find("\"conclusion\": " + quoted.substr(0, quoted.size() - 1)),
                std::string::npos)
          << json;
    }
  };
  const Case cases[] = {
      {device::Fault::Silent,
       {},
       "COM3: no device answers at 19200, 38400, 57600 or 115200 baud" + check},
      {device::Fault::Silent,
       {"--baud", "38400"},
       "COM3: no reply at 38400 baud; no device answers at 19200, 38400, 57600 or 115200 baud" +
           check},
      {device::Fault::Echo,
       {"--baud", "19200"},
       "COM3 at 19200 baud: nothing could be read: the line echoes what is sent: a loopback or "
       "no device" +
           check},
      {device::Fault::Chatter,
       {},
       "COM3 at 19200 baud: nothing could be read: no reply: the line does not fall silent "
       "(noise or another sender on it)" +
           check},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.conclusion);
    dev->SetFault({c.fault});
    std::vector<std::string> args{"read", "--port", "COM3"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto run = RunToolWith(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    expectConclusion(c, run.err, "");
    args.push_back("--json");
    run = RunToolWith(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_PYTHON_READS_JSON(run.out);
    EXPECT_NE(run.out.find("\"xpressnetAddress\": null"), std::string::npos) << run.out;
    expectConclusion(c, run.err, run.out);
  }
  dev->SetFault({device::Fault::Chatter});
  const auto run = RunToolWith({"detect", "--port", "COM3"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no PZ-RQ480 answers on COM3"), std::string::npos) << run.err;
}

TEST_F(Tool, APortThatCannotBeOpenedIsOneLineNamingItAndOneSayingWhy) {
  const std::string reason = winapi::OpenFailureReason("COM5", ERROR_FILE_NOT_FOUND);
  auto run = RunToolWith({"read", "--port", "COM5"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "COM Port Error: Unable to open com port on COM5.\n" + reason + "\n");
  EXPECT_EQ(run.out, "");
  run = RunToolWith({"read", "--port", "COM5", "--json"});
  EXPECT_EQ(run.out,
            "{\"error\": \"COM Port Error: Unable to open com port on COM5.\", "
            "\"reason\": " +
                command_line::JsonString(reason) + "}\n");
  EXPECT_PYTHON_READS_JSON(run.out);
  run = RunToolWith({"write", "--port", "COM5", "--address", "4"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Lines(run.err).size(), 2u);
  EXPECT_NE(run.err.find("COM5"), std::string::npos);
}

TEST_F(Tool, UsageErrorsGiveTheUsageAndStatusTwo) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"read", "--bogus"}, {"read", "--baud", "9600"}, {}}) {
    const auto run = RunToolWith(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("Usage: pzrq480-cli"), std::string::npos);
  }
  const auto help = RunToolWith({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: pzrq480-cli"), std::string::npos);
}

TEST_F(Tool, WriteChangesOnlyTheNamedSettings) {
  const auto run =
      RunToolWith({"write", "--port", "COM3", "--address", "12", "--s88-modules", "9"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dev->State().settings, (std::array<std::uint8_t, 5>{12, 3, 65, 9, 1}));
  EXPECT_NE(run.out.find("XpressNet address: 12"), std::string::npos) << run.out;
  EXPECT_EQ(Lines(run.out).back(), "COM3: the device holds what was written (read back)");
}

TEST_F(Tool, WriteOfANewRateAndAStationByNumber) {
  auto run =
      RunToolWith({"write", "--port", "COM3", "--baud-rate", "115200", "--command-station", "0"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dev->State().settings, (std::array<std::uint8_t, 5>{3, 4, 65, 4, 0}));
  EXPECT_EQ(dev->State().baudRate, 115200u);
  EXPECT_NE(run.out.find("Port: COM3 at 115200 baud"), std::string::npos) << run.out;
  // The device now talks only at its new rate: a read at the old one names it.
  run = RunToolWith({"read", "--port", "COM3", "--baud", "19200"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("COM3: no reply at 19200 baud; the device answers at 115200 baud "
                         "(--baud 115200)"),
            std::string::npos)
      << run.err;
  // Without --baud the read finds it there and says which rate it used.
  run = RunToolWith({"read", "--port", "COM3"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Port: COM3 at 115200 baud"), std::string::npos) << run.out;
  EXPECT_EQ(run.err,
            "COM3: no reply at 19200 baud; read at 115200 baud, where the device answers\n");
  run = RunToolWith({"read", "--port", "COM3", "--baud", "115200", "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"commandStation\": \"General (Lenz, Roco)\""), std::string::npos);
}

TEST_F(Tool, AValueOutsideTheListIsAUsageErrorBeforeAnythingIsSent) {
  const auto run = RunToolWith({"write", "--port", "COM3", "--address", "40"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(Lines(run.err).front(),
            "pzrq480-cli: XpressNet address: 40 is refused; allowed: 1..31");
  EXPECT_TRUE(ReceivedFrames(*dev).empty());
}

TEST_F(Tool, ControlCharactersOfAPortNameAreSpelledOut) {
  const auto run = RunToolWith({"write", "--port", "COM\x1b[2J9", "--address", "3"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("COM\\x1B[2J9"), std::string::npos) << run.err;
}

// It used to say "no answer from the device" whatever the version query got.
TEST_F(Tool, AWriteRefusedForABadChecksumSaysSo) {
  dev->SetFault({device::Fault::BadChecksum});
  const auto run = RunToolWith({"write", "--port", "COM3", "--address", "9"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "COM3 at 19200 baud: version query: bad checksum; nothing was written\n");
}

TEST_F(Tool, AWriteAtTheWrongRateWritesNothingAndNamesTheRate) {
  device::DeviceState state = dev->State();
  state.baudRate = 38400;
  dev->SetState(state);
  const auto run = RunToolWith({"write", "--port", "COM3", "--address", "9"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "COM3 at 19200 baud: version query: no reply; nothing was written; the device "
            "answers at 38400 baud: read its settings with --baud 38400, then write with --baud "
            "38400\n");
  EXPECT_EQ(dev->State(), state);
}

TEST_F(Tool, AWriteCutOffSaysWhatWasSentInTextAndJson) {
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json);
    dev = nullptr;
    dev = std::make_unique<device::VirtualLineDevice>("COM3", Stored({3, 3, 65, 4, 1}));
    dev->SetFault({device::Fault::StopAfter, std::chrono::milliseconds(100), 16, 1});
    std::vector<std::string> args{"write", "--port",        "COM3", "--address",
                                  "9",     "--s88-modules", "7"};
    if (json) args.push_back("--json");
    const auto run = RunToolWith(args);
    EXPECT_EQ(run.status, 1);
    const auto lines = Lines(run.err);
    ASSERT_EQ(lines.size(), 3u) << run.err;
    EXPECT_NE(lines[0].find("WriteFile"), std::string::npos);
    EXPECT_EQ(lines[1], "COM3: sent before it ended: XpressNet address 9");
    EXPECT_EQ(lines[2],
              "COM3: not written: Baud rate, S88 start address, S88 module count, Command station");
    if (json) {
      EXPECT_PYTHON_READS_JSON(run.out);
      EXPECT_NE(run.out.find("\"sent\": {\"xpressnetAddress\": 9}"), std::string::npos) << run.out;
      EXPECT_NE(run.out.find("\"notSent\": [\"baudRate\", \"s88StartAddress\", "
                             "\"s88ModuleCount\", \"commandStation\"]"),
                std::string::npos)
          << run.out;
    } else {
      EXPECT_EQ(run.out, "");
    }
  }
}

TEST_F(Tool, AReadBackThatDiffersFailsTheWrite) {
  // Bad checksums after the writes: every value of the read-back is unusable.
  dev->SetObserver([this](const device::FrameRecord& record) {
    if (record.kind == device::LogKind::Received &&
        record.request == device::RequestKind::WriteSetting) {
      dev->SetFault({device::Fault::BadChecksum});
    }
  });
  const auto run = RunToolWith({"write", "--port", "COM3", "--address", "5"});
  dev->SetObserver(nullptr);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(dev->State().Get(device::Setting::XpressNetAddress), 5);
  EXPECT_NE(run.err.find("COM3: XpressNet address: 5 written, the read-back got bad checksum"),
            std::string::npos)
      << run.err;
}

TEST_F(Tool, WriteWithoutADeviceWritesNothing) {
  dev->SetFault({device::Fault::Silent});
  const auto run = RunToolWith({"write", "--port", "COM3", "--address", "5"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Lines(run.err).size(), 1u);
  EXPECT_NE(run.err.find("COM3"), std::string::npos);
  EXPECT_EQ(dev->State().Get(device::Setting::XpressNetAddress), 3);
}

// A known-good configuration saved with read --json comes back after a reset; --dry-run
// shows what a restore would change and sends no write; a refused file reaches no device.
TEST_F(Tool, ASavedReadIsRestoredWithFromAndPreviewedWithDryRun) {
  const std::string path =
      ::testing::TempDir() + "pz_saved_" + std::to_string(std::random_device{}()) + ".json";
  auto run = RunToolWith({"read", "--port", "COM3", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::ofstream(path) << run.out;
  dev->SetState(Stored({31, 1, 65, 1, 0}));  // a reset

  run = RunToolWith({"write", "--port", "COM3", "--from", path, "--dry-run"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.out), (std::vector<std::string>{
                                "XpressNet address: 31 -> 3", "Baud rate: 19200 -> 57600",
                                "S88 start address: 65, unchanged", "S88 module count: 1 -> 4",
                                "Command station: General (Lenz, Roco) -> Tran ZF5",
                                "COM3: dry run, nothing was written; 4 settings would change"}));
  run = RunToolWith({"write", "--port", "COM3", "--from", path, "--dry-run", "--json"});
  EXPECT_PYTHON_READS_JSON(run.out);
  EXPECT_NE(run.out.find("\"xpressnetAddress\": {\"now\": 31, \"new\": 3}"), std::string::npos)
      << run.out;
  const auto writes = [this] {
    const auto frames = dev->Frames();
    return std::count_if(frames.begin(), frames.end(), [](const device::FrameRecord& record) {
      return record.request == device::RequestKind::WriteSetting;
    });
  };
  EXPECT_EQ(writes(), 0);
  EXPECT_EQ(dev->State().settings, (std::array<std::uint8_t, 5>{31, 1, 65, 1, 0}));

  run = RunToolWith({"write", "--port", "COM3", "--from", path});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dev->State().settings, (std::array<std::uint8_t, 5>{3, 3, 65, 4, 1}));
  EXPECT_EQ(Lines(run.out).back(), "COM3: the device holds what was written (read back)");

  dev->SetState(Stored({31, 1, 65, 1, 0}));
  // The device logs the tool's close a moment after the tool has ended.
  const auto closed = [this] {
    const auto frames = dev->Frames();
    return !frames.empty() && frames.back().kind == device::LogKind::PortClosed;
  };
  for (int i = 0; i < 10000 && !closed(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(closed());
  const std::size_t before = dev->Frames().size();
  std::ofstream(path) << "{\"settings\": {\"xpressnetAddress\": 40}}";
  run = RunToolWith({"write", "--port", "COM3", "--from", path});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, path +
                         ": XpressNet address (\"xpressnetAddress\"): 40 is refused; allowed: "
                         "1..31; nothing was written\n");
  EXPECT_EQ(dev->Frames().size(), before);
  std::remove(path.c_str());
  run = RunToolWith({"write", "--port", "COM3", "--from", path});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.rfind(path + ": cannot be opened: ", 0), 0u) << run.err;
  EXPECT_EQ(dev->Frames().size(), before);
}

TEST_F(Tool, DetectFindsTheDeviceAtItsRate) {
  auto com7 = std::make_unique<device::VirtualLineDevice>("COM7");
  device::DeviceState state = com7->State();
  state.baudRate = 38400;
  state.settings[1] = 2;
  com7->SetState(state);
  const auto run = RunToolWith({"detect"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.out),
            (std::vector<std::string>{"COM3 at 19200 baud: PZ-RQ480, hardware 1.2, software 7",
                                      "COM7 at 38400 baud: PZ-RQ480, hardware 1.2, software 7"}));
}

TEST_F(Tool, DetectWithNoAnswerFails) {
  dev->SetFault({device::Fault::Silent});
  const auto run = RunToolWith({"detect", "--port", "COM3"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "no PZ-RQ480 answers on COM3 at 19200, 38400, 57600 or 115200 baud\n");
}

TEST_F(Tool, TraceShowsEveryByteWithItsTime) {
  const auto run = RunToolWith({"read", "--port", "COM3", "--trace"});
  EXPECT_EQ(run.status, 0);
  const auto lines = Lines(run.err);
  // Six requests and six replies of four bytes each, but the version query of two.
  ASSERT_EQ(lines.size(), 2u + 4u + 5u * (4u + 4u));
  EXPECT_NE(lines[0].find(" ms tx F0"), std::string::npos) << lines[0];
  EXPECT_NE(lines[2].find(" ms rx 02"), std::string::npos) << lines[2];
  long previous = -1;
  for (const std::string& line : lines) {
    const long ms = std::stol(line);
    EXPECT_GE(ms, previous);
    previous = ms;
  }
}

}  // namespace
}  // namespace configurator::testing
