#include "configurator/command_line/options.h"

#include "configurator/device_settings.h"
#include "configurator/printable.h"
#include "winapi/port_map.h"

#include <algorithm>
#include <set>

namespace configurator::command_line {

namespace {

struct CommandName {
  const char* name;
  Command command;
};

constexpr CommandName kCommands[] = {
    {"ports", Command::Ports},   {"read", Command::Read}, {"write", Command::Write},
    {"detect", Command::Detect}, {"help", Command::Help}, {"map", Command::Map},
    {"unmap", Command::Unmap},
};

// The value of "--name value" or "--name=value"; advances `i` past what it used.
std::string OptionValue(const std::vector<std::string>& args, std::size_t& i,
                        const std::string& name, const std::string& inlineValue, bool hasInline) {
  if (hasInline) return inlineValue;
  if (i + 1 >= args.size()) throw UsageError("option --" + name + " needs a value");
  return args[++i];
}

constexpr const char* kRates[] = {"19200", "38400", "57600", "115200"};

// "-h" as many tools take it, and "/?" as Windows' own commands do.
bool IsShortHelp(const std::string& arg) {
#ifdef _WIN32
  if (arg == "/?") return true;
#endif
  return arg == "-h";
}

// "COM3:" as Windows' console commands write a device: the colon is no part of its name.
std::string WithoutDeviceColon(const std::string& name) {
  if (name.size() > 1 && name.back() == ':') {
    const std::string bare = name.substr(0, name.size() - 1);
    if (winapi::ComPortNumber(bare)) return bare;
  }
  return name;
}

bool TakesOperands(Command command) {
  return command == Command::Map || command == Command::Unmap;
}

void CheckOperands(const Options& options) {
  if (options.command == Command::Map && options.operands.size() != 2) {
#ifdef _WIN32
    throw UsageError("map needs a COM name and a network port: map COM9 rfc2217://host:4000");
#else
    throw UsageError("map needs a COM name and a device: map COM3 /dev/ttyUSB0");
#endif
  }
  if (options.command == Command::Unmap && options.operands.size() != 1) {
    throw UsageError("unmap needs one COM name: unmap COM3");
  }
  if (options.all && options.command != Command::Ports) {
    throw UsageError("--all belongs to ports");
  }
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
  Options options;
  bool haveCommand = false;
  bool help = false;
  std::set<std::string> given;
  bool version = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string arg = Printable(args[i]);
    if (IsShortHelp(arg)) {
      help = true;
      continue;
    }
    if (arg.rfind("--", 0) != 0) {
      if (haveCommand && TakesOperands(options.command)) {
        options.operands.push_back(options.operands.empty() ? WithoutDeviceColon(arg) : arg);
        continue;
      }
      if (haveCommand) throw UsageError("unexpected argument '" + arg + "'");
      const auto it = std::find_if(std::begin(kCommands), std::end(kCommands),
                                   [&](const CommandName& c) { return arg == c.name; });
      if (it == std::end(kCommands)) throw UsageError("unknown command '" + arg + "'");
      options.command = it->command;
      haveCommand = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const bool hasInline = equals != std::string::npos;
    const std::string name = arg.substr(2, hasInline ? equals - 2 : std::string::npos);
    const std::string inlineValue = hasInline ? args[i].substr(equals + 1) : std::string();
    // "Last one wins" would hide a typing mistake in a long command line.
    if (name != "help" && !given.insert(name).second) {
      throw UsageError("option --" + name + " is given twice");
    }
    auto flag = [&](bool& target) {
      if (hasInline) throw UsageError("option --" + name + " takes no value");
      target = true;
    };

    if (name == "help") {
      flag(help);
    } else if (name == "version") {
      flag(version);
    } else if (name == "json") {
      flag(options.json);
    } else if (name == "trace") {
      flag(options.trace);
    } else if (name == "all") {
      flag(options.all);
    } else if (name == "dry-run") {
      flag(options.dryRun);
    } else if (name == "from") {
      options.from = OptionValue(args, i, name, inlineValue, hasInline);
      if (options.from->empty()) throw UsageError("option --from needs a file name");
    } else if (name == "port") {
      options.port = WithoutDeviceColon(OptionValue(args, i, name, inlineValue, hasInline));
      if (options.port->empty()) throw UsageError("option --port needs a port name");
    } else if (name == "baud") {
      options.baud = OptionValue(args, i, name, inlineValue, hasInline);
      if (std::find(std::begin(kRates), std::end(kRates), *options.baud) == std::end(kRates)) {
        throw UsageError("--baud must be one of 19200, 38400, 57600, 115200");
      }
    } else {
      const auto& settings = DeviceSettings();
      const auto it = std::find_if(settings.begin(), settings.end(),
                                   [&](const DeviceSetting& s) { return name == s.option; });
      if (it == settings.end()) throw UsageError("unknown option '" + arg + "'");
      const std::string value = OptionValue(args, i, name, inlineValue, hasInline);
      if (!it->IndexForText(value)) {
        throw UsageError(std::string(it->label) + ": " + Printable(value) +
                         " is refused; allowed: " + it->ValuesText());
      }
      options.settings[it - settings.begin()] = value;
    }
  }
  if (help || version) {
    options.command = help ? Command::Help : Command::Version;
    return options;
  }
  if (!haveCommand) throw UsageError("no command given");
  const bool anySetting = std::any_of(options.settings.begin(), options.settings.end(),
                                      [](const auto& value) { return value.has_value(); });
  if (options.command != Command::Write && (options.from || options.dryRun)) {
    throw UsageError(std::string(options.from ? "--from" : "--dry-run") + " belongs to write");
  }
  if (options.from && anySetting) {
    throw UsageError("write takes its settings from --from or from options, not both");
  }
  if (options.command == Command::Write && !anySetting && !options.from) {
    throw UsageError("write needs at least one setting to change, or --from FILE");
  }
  if (options.command != Command::Write && anySetting) {
    throw UsageError("settings can only be given to write");
  }
  CheckOperands(options);
  return options;
}

namespace {

// One option or command with its description, wrapped at word boundaries so that no line
// is wider than the console's 80 columns less the one the cursor needs.
constexpr std::size_t kUsageWidth = 79;

// Wraps `words` after `head` at its separators, continuing lines at column `indent`.
void AddWrapped(std::string& text, std::string head, const std::string& words, std::size_t indent,
                const std::string& separator = " ") {
  if (!head.empty()) head.resize(std::max(indent, head.size() + 2), ' ');
  const std::string mark = separator.substr(0, separator.find_last_not_of(' ') + 1);
  std::string line = head;
  bool lineHasWord = false;
  std::size_t at = 0;
  while (at < words.size()) {
    const std::size_t next = words.find(separator, at);
    const std::string word = words.substr(at, next == std::string::npos ? next : next - at);
    at = next == std::string::npos ? words.size() : next + separator.size();
    if (lineHasWord && line.size() + separator.size() + word.size() + mark.size() > kUsageWidth) {
      // The separator's mark stays at the end of the line it closes: "A, B" gives "A,".
      text += line + mark + "\n";
      line = std::string(indent, ' ');
      lineHasWord = false;
    }
    line += (lineHasWord ? separator : "") + word;
    lineHasWord = true;
  }
  text += line + "\n";
}

}  // namespace

std::string UsageText(UsageSystem system) {
  const bool windows = system == UsageSystem::Windows;
  std::string text = "Usage: pzrq480-cli COMMAND [OPTIONS]\n\nCommands:\n";
  constexpr std::size_t kCommandIndent = 11;
  if (windows) {
    AddWrapped(text, "  ports",
               "list the serial ports COM1..COM20, every further one that Windows "
               "knows and the COM names given with map: the device's name and whether it can "
               "be used",
               kCommandIndent);
  } else {
    AddWrapped(text, "  ports",
               "list the serial ports COM1..COM20 and every further COM name "
               "given with map: the device, whether it can be used (or who holds it) and the USB "
               "adapter",
               kCommandIndent);
  }
  AddWrapped(text, "  read", "show the device's versions and its five settings", kCommandIndent);
  AddWrapped(text, "  write", "change the settings given below; the others keep their values",
             kCommandIndent);
  AddWrapped(text, "  write --from FILE", "write the five settings a \"read --json\" saved in FILE",
             kCommandIndent + 10);
  AddWrapped(text, "  detect", "look for the device on every port and search rate", kCommandIndent);
  if (windows) {
    AddWrapped(text, "  map COMn URL",
               "give a network port a COM name for this user, e.g. map COM9 "
               "rfc2217://host:4000 (serial ports are numbered in the Device Manager)",
               kCommandIndent + 10);
    AddWrapped(text, "  unmap COMn", "take that COM name away again", kCommandIndent + 10);
  } else {
    AddWrapped(text, "  map COMn DEVICE",
               "give a serial device or a network port a COM name, "
               "e.g. map COM3 /dev/ttyUSB0 or map COM9 rfc2217://host:4000",
               kCommandIndent + 10);
    AddWrapped(text, "  unmap COMn", "take that COM name away again", kCommandIndent + 10);
  }
  text += "\nOptions:\n";
  constexpr std::size_t kOptionIndent = 16;
  AddWrapped(text, "  --port NAME",
             std::string(windows ? "a COM name (COM3 or COM3:)"
                                 : "a COM name (COM3) or a device path (/dev/ttyUSB0)") +
                 ", or a network port: tcp://HOST:PORT (raw TCP) or rfc2217://HOST:PORT; "
                 "without it the first port found",
             kOptionIndent);
  AddWrapped(text, "  --baud RATE",
             "rate to talk to the device at: 19200, 38400, 57600, "
             "115200; without it a read starts at 19200 and, when nothing answers, tries the "
             "others",
             kOptionIndent);
  AddWrapped(text, "  --json", "print the result as JSON (ports, read, write)", kOptionIndent);
  AddWrapped(text, "  --all", "ports: list the missing ports too", kOptionIndent);
  AddWrapped(text, "  --trace", "show every byte sent and received on standard error",
             kOptionIndent);
  AddWrapped(text, "  --dry-run", "write: show what would change on the device, write nothing",
             kOptionIndent);
  AddWrapped(text, windows ? "  --help, -h, /?" : "  --help, -h", "show this text", kOptionIndent);
  AddWrapped(text, "  --version", "show the program's version", kOptionIndent);
  text += "\nSettings (write):\n";
  constexpr std::size_t kSettingIndent = 28;
  for (const DeviceSetting& setting : DeviceSettings()) {
    AddWrapped(text, std::string("  --") + setting.option + " VALUE ",
               std::string(setting.label) + ": " + setting.ValuesText(), kSettingIndent, ", ");
  }
  text += "\n";
  AddWrapped(
      text, "",
      std::string("Exit status: 0 on success, 1 when the port cannot be opened "
                  "or the device does not answer or hold what was written, 2 for a usage error (a "
                  "refused value among them)") +
          (windows ? "."
                   : ", 130 when ended by Ctrl+C, 143 by kill and 129 when its terminal "
                     "closes (the port is closed first)."),
      0);
  return text;
}

std::string UsageText() {
#ifdef _WIN32
  return UsageText(UsageSystem::Windows);
#else
  return UsageText(UsageSystem::Linux);
#endif
}

std::string VersionText() {
  return std::string("pzrq480-cli ") + PZ_VERSION + "\n";
}

}  // namespace configurator::command_line
