#include "sim_options.h"

#include "winapi/port_map.h"

#include <array>
#include <charconv>
#include <functional>
#include <string_view>

namespace sim {

namespace {

unsigned ParseNumber(const std::string& option, const std::string& text, unsigned low,
                     unsigned high) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [rest, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || rest != end || value < low || value > high) {
    throw UsageError(option + " takes a number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not \"" + text + "\"");
  }
  return value;
}

// "1.2": high nibble 1, low nibble 2.
std::uint8_t ParseHardwareVersion(const std::string& text) {
  const auto dot = text.find('.');
  if (dot == std::string::npos) {
    throw UsageError("--hw takes MAJOR.MINOR (each 0 to 15), not \"" + text + "\"");
  }
  const unsigned major = ParseNumber("--hw MAJOR", text.substr(0, dot), 0, 15);
  const unsigned minor = ParseNumber("--hw MINOR", text.substr(dot + 1), 0, 15);
  return static_cast<std::uint8_t>(major << 4 | minor);
}

struct FaultName {
  const char* name;
  device::Fault fault;
};

constexpr std::array<FaultName, 9> kFaults{{
    {"none", device::Fault::None},
    {"silent", device::Fault::Silent},
    {"bad-checksum", device::Fault::BadChecksum},
    {"split", device::Fault::SplitReply},
    {"late", device::Fault::LateReply},
    {"noise", device::Fault::Noise},
    {"long", device::Fault::LongReply},
    {"chatter", device::Fault::Chatter},
    {"echo", device::Fault::Echo},
}};

constexpr std::string_view kStopAfter = "stop-after=";

void ParseFault(device::FaultConfig& config, const std::string& text) {
  for (const FaultName& entry : kFaults) {
    if (text == entry.name) {
      config.fault = entry.fault;
      return;
    }
  }
  if (text.rfind(kStopAfter, 0) == 0) {
    config.fault = device::Fault::StopAfter;
    config.stopAfter = ParseNumber("--fault stop-after=N", text.substr(kStopAfter.size()), 1, 1000);
    return;
  }
  throw UsageError(
      "--fault takes none, silent, bad-checksum, split, late, noise, long, chatter, echo or "
      "stop-after=N, not \"" +
      text + "\"");
}

using Setter = std::function<void(SimOptions&, const std::string&)>;

struct OptionEntry {
  const char* name;
  Setter apply;
};

void SetSetting(SimOptions& options, device::Setting n, const char* name, const std::string& text) {
  // Any byte is taken, so that a device holding an out-of-range value can be tried.
  options.state.Set(n, static_cast<std::uint8_t>(ParseNumber(name, text, 0, 255)));
}

const std::array<OptionEntry, 12> kOptions{{
    {"--com",
     [](SimOptions& o, const std::string& v) {
       const auto number = winapi::ComPortNumber(v);
       if (!number) throw UsageError("--com takes a name COM1 to COM255, not \"" + v + "\"");
       o.comName = "COM" + std::to_string(*number);
     }},
    {"--hw", [](SimOptions& o,
                const std::string& v) { o.state.hardwareVersion = ParseHardwareVersion(v); }},
    {"--sw",
     [](SimOptions& o, const std::string& v) {
       o.state.softwareVersion = static_cast<std::uint8_t>(ParseNumber("--sw", v, 0, 255));
     }},
    {"--address",
     [](SimOptions& o, const std::string& v) {
       SetSetting(o, device::Setting::XpressNetAddress, "--address", v);
     }},
    {"--baud-rate",
     [](SimOptions& o, const std::string& v) {
       const auto code = device::CodeOfRate(ParseNumber("--baud-rate", v, 0, 4000000));
       if (!code)
         throw UsageError("--baud-rate takes 19200, 38400, 57600 or 115200, not \"" + v + "\"");
       o.state.Set(device::Setting::BaudRateCode, *code);
       o.state.baudRate = *device::RateOfCode(*code);
     }},
    {"--s88-start",
     [](SimOptions& o, const std::string& v) {
       SetSetting(o, device::Setting::S88Start, "--s88-start", v);
     }},
    {"--s88-modules",
     [](SimOptions& o, const std::string& v) {
       SetSetting(o, device::Setting::S88Modules, "--s88-modules", v);
     }},
    {"--command-station",
     [](SimOptions& o, const std::string& v) {
       SetSetting(o, device::Setting::CommandStation, "--command-station", v);
     }},
    {"--fault", [](SimOptions& o, const std::string& v) { ParseFault(o.fault, v); }},
    {"--fault-gap",
     [](SimOptions& o, const std::string& v) {
       o.fault.gap = std::chrono::milliseconds(ParseNumber("--fault-gap", v, 0, 60000));
     }},
    {"--long-length",
     [](SimOptions& o, const std::string& v) {
       o.fault.longLength = ParseNumber("--long-length", v, 1, 4096);
     }},
    {"--log", [](SimOptions& o, const std::string& v) { o.logFile = v; }},
}};

}  // namespace

SimOptions ParseSimOptions(const std::vector<std::string>& args) {
  SimOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (name == "--help" || name == "-h") {
      options.help = true;
      continue;
    }
    if (const auto equals = name.find('='); equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    const OptionEntry* entry = nullptr;
    for (const OptionEntry& candidate : kOptions) {
      if (name == candidate.name) entry = &candidate;
    }
    if (!entry) throw UsageError("unknown option \"" + args[i] + "\"");
    if (!value) {
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      value = args[++i];
    }
    entry->apply(options, *value);
  }
  return options;
}

const char* SimUsage() {
  return R"(Usage: pzrq480-sim [options]

An emulated PZ-RQ480 on a pseudo-terminal. It registers the terminal in the port map
under a COM name, prints that name and the terminal's path (one line each) and answers
until it gets Ctrl-C or SIGTERM; then it removes the port map entry.

Options:
  --com COMn              the COM name to register (default: the first free one of
                          COM1..COM20 whose usual device does not exist either)
  --hw MAJOR.MINOR        hardware version (default 1.2)
  --sw N                  software version, 0..255 (default 7)
  --address N             stored XpressNet address (default 1)
  --baud-rate RATE        the device's rate: 19200, 38400, 57600 or 115200 (default 19200)
  --s88-start N           stored S88 start address (default 1)
  --s88-modules N         stored S88 module count (default 1)
  --command-station N     stored command station: 0 general, 1 Tran ZF5 (default 0)
                          (stored settings take any value 0..255 as given)
  --fault MODE            none, silent, bad-checksum, split (reply in two bursts),
                          late (reply after the gap), noise (random bytes around the
                          reply), long (reply padded beyond 11 bytes), chatter (a
                          random byte every 40 ms besides the replies), echo (every
                          byte sent back, no reply: a loopback) or stop-after=N
                          (after storing N settings the device is cut off: its
                          terminal goes away as an unplugged adapter's does)
  --fault-gap MS          the gap of split and late replies (default 100)
  --long-length N         the length of a long reply (default 16)
  --log FILE              write the frame log to FILE instead of standard error
  --help                  this text

The port map folder is $PZ_PORT_MAP_DIR, else $XDG_CONFIG_HOME/pzrq480/ports, else
~/.config/pzrq480/ports.
)";
}

}  // namespace sim
