#include "configurator/command_line/tool.h"

#include "configurator/command_line/interrupt_watch.h"
#include "configurator/command_line/options.h"
#include "configurator/command_line/port_commands.h"
#include "configurator/command_line/report.h"
#include "configurator/command_line/settings_file.h"
#include "configurator/form_pzrq480.h"
#include "configurator/printable.h"
#include "ui/headless_application.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
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

// A termination signal ended the command; what it left is already reported.
struct Interrupted {
  int signal;
};

// The error display's text split into the message and the reason paragraph.
Failure ShownError(const std::string& text) {
  const std::size_t split = text.find(ui::kParagraphBreak);
  if (split == std::string::npos) return {text, {}};
  return {text.substr(0, split), text.substr(split + std::string_view(ui::kParagraphBreak).size())};
}

class Session {
 public:
  Session(const Options& options, std::ostream& out, std::ostream& err,
          const runtime::TerminationSignals* signals)
      : options_(options), out_(out), err_(err), form_(app_) {
    if (options.trace) {
      form_.OnTrace = [this](bool sent, std::uint8_t b) { Trace(sent, b); };
    }
    if (signals) interrupts_.emplace(*signals, [this] { form_.FormCloseQuery(); });
  }

  int Run() {
    // A refused file is refused before any port is touched.
    if (options_.from) LoadFile(*options_.from);
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
    CheckInterrupted();
    if (!app_.Errors().empty()) throw ShownError(app_.Errors().front());
  }

  void CheckInterrupted() {
    if (const int signal = interrupts_ ? interrupts_->Signal() : 0) {
      err_ << "pzrq480-cli: ended by signal " << signal << "; the port is closed\n";
      throw Interrupted{signal};
    }
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
    return Printable(form_.cbPort.Text());
  }

  // The rate of --baud (checked by the parser), else the list's first.
  void ChooseSearchBaud() { form_.cbSearchBaud.SetText(options_.baud.value_or("19200")); }

  // "the device answers at 38400 baud" or that it answers at none of the four rates.
  std::string WhereItAnswers(int found) const {
    if (found < 0) return "no device answers at " + TFormPZRQ480::SearchRatesText() + " baud";
    const std::string rate = form_.cbSearchBaud.Items()[static_cast<std::size_t>(found)];
    return "the device answers at " + rate + " baud (--baud " + rate + ")";
  }

  void Show(const ReadReportView& report, const WriteReport* write = nullptr) {
    out_ << (options_.json ? FormatJson(report, write) : FormatText(report));
  }

  int Read() {
    ChooseSearchBaud();
    const std::string port = ChoosePort();
    const std::string firstRate = form_.cbSearchBaud.Text();
    // Without --baud the read looks at the other rates itself; with it, only where the
    // device is is told.
    form_.SearchOnSilence = !options_.baud;
    Handler([this] { form_.btnReadClick(); });
    ReadReportView report = CollectRead(form_);
    if (NothingRead(report)) {
      // One fact, said once: not the same "no reply" for every request on both streams.
      report.conclusion = NothingReadConclusion(port, firstRate);
      Show(report);
      err_ << Printable(report.conclusion) << "\n";
      return kExitFailed;
    }
    Show(report);
    auto problems = Problems(report);
    if (form_.LastSearch.ran) {
      if (form_.LastSearch.answeredAt >= 0) {
        err_ << port << ": no reply at " << firstRate << " baud; read at "
             << form_.cbSearchBaud.Text() << " baud, where the device answers\n";
      } else {
        problems.push_back(port + ": " + WhereItAnswers(-1));
      }
    } else if (options_.baud && form_.LastRead.version.status == ReplyStatus::NoReply) {
      int found = -1;
      Handler([&] { found = form_.LocateDevice(); });
      problems.push_back(port + ": no reply at " + firstRate + " baud; " + WhereItAnswers(found));
    }
    for (const std::string& line : problems) err_ << line << "\n";
    return problems.empty() ? kExitOk : kExitFailed;
  }

  std::string NothingReadConclusion(const std::string& port, const std::string& firstRate) {
    const std::string check = "check the port, the cable and the device's power";
    if (form_.LastSearch.ran && form_.LastSearch.answeredAt < 0) {
      return port + ": " + WhereItAnswers(-1) + "; " + check;
    }
    const auto silent = [](const ReplyResult& r) { return r.status == ReplyStatus::NoReply; };
    const ReadReport& read = form_.LastRead;
    if (options_.baud && silent(read.version) &&
        std::all_of(read.settings.begin(), read.settings.end(), silent)) {
      int found = -1;
      Handler([&] { found = form_.LocateDevice(); });
      return port + ": no reply at " + firstRate + " baud; " + WhereItAnswers(found) +
             (found < 0 ? "; " + check : std::string());
    }
    return port + " at " + form_.cbSearchBaud.Text() +
           " baud: nothing could be read: " + NothingReadReason(read) + "; " + check;
  }

  int Write() {
    ChooseSearchBaud();
    const std::string port = ChoosePort();
    const std::string rate = form_.cbSearchBaud.Text();
    // The values asked for (the parser or the file's check took only valid ones).
    std::array<int, 5> wanted = fromFile_;
    for (std::size_t i = 0; i < wanted.size() && !options_.from; ++i) {
      wanted[i] =
          options_.settings[i] ? *DeviceSettings()[i].IndexForText(*options_.settings[i]) : -1;
    }

    // The settings not given are written as the device holds them, so they are read
    // first; a write goes to the rate asked for only, never to one found elsewhere.
    form_.SearchOnSilence = false;
    Handler([this] { form_.btnReadClick(); });
    const ReadReportView before = CollectRead(form_);
    if (before.version.status != ReplyStatus::Good) {
      std::string message = port + " at " + rate +
                            " baud: version query: " + ReplyStatusText(before.version.status) +
                            "; nothing was written";
      if (before.version.status == ReplyStatus::NoReply) {
        int found = -1;
        Handler([&] { found = form_.LocateDevice(); });
        if (found < 0) {
          message += "; " + WhereItAnswers(found);
        } else {
          // As the window says: read first, then write; the write itself reads first too.
          const std::string at = form_.cbSearchBaud.Items()[static_cast<std::size_t>(found)];
          message += "; the device answers at " + at + " baud: read its settings with --baud " +
                     at + ", then write with --baud " + at;
        }
      }
      throw Failure{message};
    }
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      const DeviceSetting& setting = DeviceSettings()[i];
      ui::ComboBox& list = form_.*setting.list;
      if (wanted[i] >= 0) {
        list.SetItemIndex(wanted[i]);
      } else if (before.settings[i].index < 0) {
        throw Failure{port + ": " + setting.label + ": " + Problem(before.settings[i]) +
                      "; give it on the command line; nothing was written"};
      }
    }

    if (options_.dryRun) {
      out_ << (options_.json ? FormatDryRunJson(before, wanted) : FormatDryRunText(before, wanted));
      return kExitOk;
    }

    app_.ClearDialogs();
    app_.RunHandler([this] { form_.btnWriteClick(); });
    const WriteReport& write = form_.LastWrite;
    if (const int signal = interrupts_ ? interrupts_->Signal() : 0) {
      WriteStopped(
          port, "pzrq480-cli: ended by signal " + std::to_string(signal) + "; the port is closed");
      throw Interrupted{signal};
    }
    if (!app_.Errors().empty()) {
      if (!write.stoppedByError) throw Failure{app_.Errors().front()};
      return WriteStopped(port, app_.Errors().front());
    }
    if (!write.started) {
      throw Failure{app_.Messages().empty() ? port + ": nothing was written"
                                            : app_.Messages().front()};
    }
    Show(CollectRead(form_), &write);
    for (const std::string& line : write.differences) err_ << port << ": " << line << "\n";
    if (!write.differences.empty()) return kExitFailed;
    if (!options_.json) out_ << port << ": the device holds what was written (read back)\n";
    return kExitOk;
  }

  void LoadFile(const std::string& path) {
    try {
      fromFile_ = LoadSettingsFile(path);
    } catch (const SettingsFileError& error) {
      throw Failure{Printable(path) + ": " + error.what() + "; nothing was written"};
    }
  }

  // A write an error or a signal cut short: why, then what reached the device and what
  // did not.
  int WriteStopped(const std::string& port, const std::string& error) {
    const WriteReport& write = form_.LastWrite;
    if (options_.json) {
      out_ << FormatStoppedWriteJson(form_.ComPort ? form_.ComPort->Port() : port, error, write);
    }
    err_ << Printable(error) << "\n";
    const auto [sent, notSent] =
        write.SplitBySent([](const DeviceSetting& setting, std::uint8_t value, bool wasSent) {
          return std::string(setting.label) +
                 (wasSent ? " " + setting.ValueText(value) : std::string());
        });
    err_ << port << ": sent before it ended: " << (sent.empty() ? "nothing" : sent) << "\n";
    err_ << port << ": not written: " << (notSent.empty() ? "nothing" : notSent) << "\n";
    return kExitFailed;
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
        try {
          Handler([&] { answered = form_.ProbeDevice(); });
        } catch (const Failure& failure) {
          // One port that cannot be opened says so; the others are still looked at.
          err_ << Printable(failure.message) << "\n";
          if (!failure.reason.empty()) err_ << Printable(failure.reason) << "\n";
          break;
        }
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
      throw Failure{"no PZ-RQ480 answers on " + list + " at " + TFormPZRQ480::SearchRatesText() +
                    " baud"};
    }
    return kExitOk;
  }

  static std::string Problem(const SettingReport& entry) {
    if (entry.reply.status == ReplyStatus::Good) {
      return "invalid value " + std::to_string(entry.reply.value);
    }
    return ReplyStatusText(entry.reply.status);
  }

  const Options& options_;
  std::ostream& out_;
  std::ostream& err_;
  const Clock::time_point start_ = Clock::now();
  std::array<int, 5> fromFile_{};  // the list indexes of --from
  ui::HeadlessApplication app_;
  TFormPZRQ480 form_;
  // Ends before the form it hands signals to.
  std::optional<InterruptWatch> interrupts_;
};

}  // namespace

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            const runtime::TerminationSignals* signals) {
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
    Session session(options, out, err, signals);
    return session.Run();
  } catch (const Interrupted& interrupted) {
    return kExitSignalBase + interrupted.signal;
  } catch (const UsageError& error) {
    err << "pzrq480-cli: " << error.what() << "\n\n" << UsageText();
    return kExitUsage;
  } catch (const Failure& failure) {
    // Port errors carry the port's name as given; a control character in it is spelled out.
    err << Printable(failure.message) << "\n";
    if (!failure.reason.empty()) err << Printable(failure.reason) << "\n";
    if (options.json) {
      out << "{\"error\": " << JsonString(failure.message);
      if (!failure.reason.empty()) out << ", \"reason\": " << JsonString(failure.reason);
      out << "}\n";
    }
  } catch (const std::exception& error) {
    err << Printable(error.what()) << "\n";
  }
  return kExitFailed;
}

}  // namespace configurator::command_line
