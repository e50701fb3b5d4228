#include "configurator/command_line/options.h"

#include "configurator/device_settings.h"
#include "configurator/printable.h"

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

bool TakesOperands(Command command) {
  return command == Command::Map || command == Command::Unmap;
}

void CheckOperands(const Options& options) {
  if (options.command == Command::Map && options.operands.size() != 2) {
    throw UsageError("map needs a COM name and a device: map COM3 /dev/ttyUSB0");
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
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string arg = Printable(args[i]);
    if (arg.rfind("--", 0) != 0) {
      if (haveCommand && TakesOperands(options.command)) {
        options.operands.push_back(arg);
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
      options.port = OptionValue(args, i, name, inlineValue, hasInline);
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
  if (help) {
    options.command = Command::Help;
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

std::string UsageText() {
  std::string text =
      "Usage: pzrq480-cli COMMAND [OPTIONS]\n"
      "\n"
      "Commands:\n"
      "  ports    list the serial ports COM1..COM20 and those of the port map: the device,\n"
      "           whether it can be used (or who holds it) and the USB adapter\n"
      "  read     show the device's versions and its five settings\n"
      "  write    change the settings given below; the others keep their values\n"
      "  write --from FILE   write the five settings a \"read --json\" saved in FILE\n"
      "  detect   look for the device on every port and search rate\n"
      "  map COMn DEVICE   give a device a fixed COM name (Linux: a link in the port map)\n"
      "  unmap COMn        remove that link again\n"
      "\n"
      "Options:\n"
      "  --port NAME   COM name or device path (default: the first port found)\n"
      "  --baud RATE   rate to talk to the device at: 19200, 38400, 57600, 115200; without it\n"
      "                a read starts at 19200 and, when nothing answers, tries the others\n"
      "  --json        print the result as JSON (ports, read, write)\n"
      "  --all         ports: list the missing ports too\n"
      "  --trace       show every byte sent and received on standard error\n"
      "  --dry-run     write: show what would change on the device, write nothing\n"
      "  --help        show this text\n"
      "\n"
      "Settings (write):\n";
  for (const DeviceSetting& setting : DeviceSettings()) {
    std::string option = std::string("  --") + setting.option + " VALUE";
    option.resize(std::max<std::size_t>(option.size() + 1, 28), ' ');
    text += option + setting.label + ": " + setting.ValuesText() + "\n";
  }
  text +=
      "\n"
      "Exit status: 0 on success, 1 when the port cannot be opened or the device does not\n"
      "answer or hold what was written, 2 for a usage error (a refused value among them),\n"
      "128 + the signal's number when ended by a signal (the port is closed first).\n";
  return text;
}

}  // namespace configurator::command_line
