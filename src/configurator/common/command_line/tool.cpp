#include "configurator/command_line/tool.h"

#include "configurator/command_line/options.h"
#include "configurator/command_line/port_commands.h"
#include "configurator/command_line/report.h"
#include "configurator/form_pzrq480.h"
#include "ui/headless_application.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ostream>

namespace configurator::command_line {

namespace {

using Clock = std::chrono::steady_clock;

// Failures of a command that end it with status 1; the message is one line, the reason
// (why a port cannot be opened) a second one.
struct Failure {
  std::string message;
  std::string reason = {};
};

// The error display's text split into the message and the reason paragraph.
Failure ShownError(const std::string& text) {
  const std::size_t split = text.find(ui::kParagraphBreak);
  if (split == std::string::npos) return {text, {}};
  return {text.substr(0, split), text.substr(split + std::string_view(ui::kParagraphBreak).size())};
}

class Session {
 public:
  Session(const Options& options, std::ostream& out, std::ostream& err)
      : options_(options), out_(out), err_(err), form_(app_) {
    if (options.trace) {
      form_.OnTrace = [this](bool sent, std::uint8_t b) { Trace(sent, b); };
    }
  }

  int Run() {
    Handler([this] { form_.FormCreate(); });
    switch (options_.command) {
      case Command::Read:
        return Read();
      case Command::Write:
        return Write();
      case Command::Detect:
        return Detect();
      case Command::Help:
      case Command::Ports:
      case Command::Map:
      case Command::Unmap:
        break;
    }
    return kExitOk;
  }

 private:
  // Runs a window handler; an error it raised (as the window's error display would show
  // it) fails the command.
  void Handler(const std::function<void()>& handler) {
    app_.ClearDialogs();
    app_.RunHandler(handler);
    if (!app_.Errors().empty()) throw ShownError(app_.Errors().front());
  }

  void Trace(bool sent, std::uint8_t b) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
    char line[48];
    std::snprintf(line, sizeof line, "%8lld ms %s %02X\n", static_cast<long long>(ms),
                  sent ? "tx" : "rx", b);
    err_ << line << std::flush;
  }

  // Selects the port of --port (adding it when the probe did not list it) or keeps the
  // probe's first port.
  std::string ChoosePort() {
    if (options_.port) {
      const auto& items = form_.cbPort.Items();
      const auto it = std::find(items.begin(), items.end(), *options_.port);
      if (it == items.end()) form_.cbPort.Add(*options_.port);
      const auto& updated = form_.cbPort.Items();
      form_.cbPort.SetItemIndex(static_cast<int>(
          std::find(updated.begin(), updated.end(), *options_.port) - updated.begin()));
    }
    if (form_.cbPort.ItemIndex() < 0) {
      throw Failure{"no serial port found; name one with --port"};
    }
    return form_.cbPort.Text();
  }

  void ChooseSearchBaud() {
    form_.cbSearchBaud.SetText(options_.baud);
    if (form_.cbSearchBaud.ItemIndex() < 0) {
      throw UsageError("--baud must be one of 19200, 38400, 57600, 115200");
    }
  }

  void Show(const ReadReportView& report) {
    out_ << (options_.json ? FormatJson(report) : FormatText(report));
  }

  int Read() {
    ChooseSearchBaud();
    ChoosePort();
    Handler([this] { form_.btnReadClick(); });
    const ReadReportView report = CollectRead(form_);
    Show(report);
    const auto problems = Problems(report);
    for (const std::string& line : problems) err_ << line << "\n";
    return problems.empty() ? kExitOk : kExitFailed;
  }

  int Write() {
    ChooseSearchBaud();
    const std::string port = ChoosePort();
    // The values asked for, checked before anything is sent.
    std::array<int, 5> wanted{};
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      const DeviceSetting& setting = DeviceSettings()[i];
      wanted[i] = -1;
      if (!options_.settings[i]) continue;
      const auto index = setting.IndexForText(*options_.settings[i]);
      if (!index) {
        throw Failure{port + ": " + setting.label + ": " + *options_.settings[i] + " is refused; " +
                      "allowed: " + setting.ValuesText()};
      }
      wanted[i] = *index;
    }

    Handler([this] { form_.btnReadClick(); });
    const ReadReportView before = CollectRead(form_);
    if (before.version.status != ReplyStatus::Good) {
      throw Failure{port + ": version query: no answer from the device; nothing written"};
    }
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      const DeviceSetting& setting = DeviceSettings()[i];
      ui::ComboBox& list = form_.*setting.list;
      if (wanted[i] >= 0) {
        list.SetItemIndex(wanted[i]);
      } else if (before.settings[i].index < 0) {
        throw Failure{port + ": " + setting.label + ": " + Problem(before.settings[i]) +
                      "; give it on the command line; nothing written"};
      } else {
        wanted[i] = list.ItemIndex();
      }
    }

    Handler([this] { form_.btnWriteClick(); });
    if (!app_.Messages().empty()) throw Failure{port + ": " + app_.Messages().front()};
    const ReadReportView after = CollectRead(form_);
    Show(after);
    int status = kExitOk;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      const SettingReport& entry = after.settings[i];
      if (entry.index == wanted[i]) continue;
      const DeviceSetting& setting = DeviceSettings()[i];
      err_ << after.port << ": " << setting.label << ": written "
           << setting.Items()[static_cast<std::size_t>(wanted[i])] << ", reads back "
           << (entry.index >= 0 ? entry.text : Problem(entry)) << "\n";
      status = kExitFailed;
    }
    return status;
  }

  int Detect() {
    std::vector<std::string> ports = form_.cbPort.Items();
    if (options_.port) ports = {*options_.port};
    if (ports.empty()) throw Failure{"no serial port found; name one with --port"};
    int found = 0;
    for (const std::string& port : ports) {
      form_.cbPort.SetText(port);
      for (std::size_t rate = 0; rate < form_.cbSearchBaud.Items().size(); ++rate) {
        form_.cbSearchBaud.SetItemIndex(static_cast<int>(rate));
        bool answered = false;
        Handler([&] { answered = form_.ProbeDevice(); });
        if (!answered) continue;
        ++found;
        out_ << port << " at " << form_.cbSearchBaud.Text() << " baud: PZ-RQ480, hardware "
             << HardwareVersionText(form_.LastRead.hardwareVersion) << ", software "
             << static_cast<int>(form_.LastRead.version.value) << "\n";
      }
    }
    if (found == 0) {
      std::string list;
      for (const std::string& port : ports) list += (list.empty() ? "" : ", ") + port;
      throw Failure{"no PZ-RQ480 answers on " + list + " at 19200, 38400, 57600 or 115200 baud"};
    }
    return kExitOk;
  }

  static std::string Problem(const SettingReport& entry) {
    if (entry.reply.status == ReplyStatus::Good) {
      return "invalid value " + std::to_string(entry.reply.value);
    }
    switch (entry.reply.status) {
      case ReplyStatus::BadChecksum:
        return "bad checksum";
      case ReplyStatus::ShortFrame:
        return "short reply";
      default:
        return "no reply";
    }
  }

  const Options& options_;
  std::ostream& out_;
  std::ostream& err_;
  const Clock::time_point start_ = Clock::now();
  ui::HeadlessApplication app_;
  TFormPZRQ480 form_;
};

}  // namespace

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options options;
  try {
    options = ParseOptions(args);
  } catch (const UsageError& error) {
    err << "pzrq480-cli: " << error.what() << "\n\n" << UsageText();
    return kExitUsage;
  }
  if (options.command == Command::Help) {
    out << UsageText();
    return kExitOk;
  }
  if (IsPortCommand(options.command)) return RunPortCommand(options, out, err);
  try {
    Session session(options, out, err);
    return session.Run();
  } catch (const UsageError& error) {
    err << "pzrq480-cli: " << error.what() << "\n\n" << UsageText();
    return kExitUsage;
  } catch (const Failure& failure) {
    err << failure.message << "\n";
    if (!failure.reason.empty()) {
      err << failure.reason << "\n";
      if (options.json) {
        out << "{\"error\": " << JsonString(failure.message)
            << ", \"reason\": " << JsonString(failure.reason) << "}\n";
      }
    }
  } catch (const std::exception& error) {
    err << error.what() << "\n";
  }
  return kExitFailed;
}

}  // namespace configurator::command_line
