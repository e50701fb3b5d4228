#include "configurator/command_line/report.h"

#include "configurator/printable.h"

#include <algorithm>

namespace configurator::command_line {

namespace {

// An item that is a number goes into JSON as a number, any other as a string.
std::string JsonItem(const std::string& item) {
  return DecimalNumber(item) ? item : JsonString(item);
}

}  // namespace

ReadReportView CollectRead(TFormPZRQ480& form) {
  ReadReportView report;
  report.port = form.ComPort ? form.ComPort->Port() : form.cbPort.Text();
  report.searchBaud = form.cbSearchBaud.Text();
  report.version = form.LastRead.version;
  report.hardwareVersion = form.LastRead.hardwareVersion;
  for (std::size_t i = 0; i < report.settings.size(); ++i) {
    const DeviceSetting& setting = DeviceSettings()[i];
    const ui::ComboBox& list = form.*setting.list;
    SettingReport& entry = report.settings[i];
    entry.setting = &setting;
    entry.reply = form.LastRead.settings[i];
    entry.index = entry.reply.status == ReplyStatus::Good ? list.ItemIndex() : -1;
    entry.text = entry.index >= 0 ? list.Text() : std::string();
  }
  return report;
}

std::vector<std::string> Problems(const ReadReportView& report) {
  std::vector<std::string> problems;
  const std::string port = Printable(report.port);
  if (report.version.status != ReplyStatus::Good) {
    problems.push_back(port + ": version query: " + ReplyStatusText(report.version.status));
  }
  for (const SettingReport& entry : report.settings) {
    const std::string head = port + ": " + entry.setting->label + ": ";
    if (entry.reply.status != ReplyStatus::Good) {
      problems.push_back(head + ReplyStatusText(entry.reply.status));
    } else if (entry.index < 0) {
      problems.push_back(head + "the device holds " + std::to_string(entry.reply.value) +
                         ", which is not a valid value");
    }
  }
  return problems;
}

bool NothingRead(const ReadReportView& report) {
  if (report.version.status == ReplyStatus::Good) return false;
  return std::none_of(
      report.settings.begin(), report.settings.end(),
      [](const SettingReport& entry) { return entry.reply.status == ReplyStatus::Good; });
}

std::string FormatText(const ReadReportView& report) {
  if (NothingRead(report)) return {};
  std::string text = "Port: " + Printable(report.port) + " at " + report.searchBaud + " baud\n";
  if (report.version.status == ReplyStatus::Good) {
    text += "Hardware version: " + HardwareVersionText(report.hardwareVersion) + "\n";
    text += "Software version: " + std::to_string(report.version.value) + "\n";
  } else {
    text += std::string("Version: ") + ReplyStatusText(report.version.status) + "\n";
  }
  for (const SettingReport& entry : report.settings) {
    text += std::string(entry.setting->label) + ": ";
    if (entry.reply.status != ReplyStatus::Good) {
      text += ReplyStatusText(entry.reply.status);
    } else if (entry.index < 0) {
      text += "invalid value " + std::to_string(entry.reply.value);
    } else {
      text += entry.text;
    }
    text += "\n";
  }
  return text;
}

namespace {

// "write": {"sent": {...}, "notSent": [...], "differences": [...]}, as a member line.
std::string WriteMember(const WriteReport& write) {
  const auto [sent, notSent] =
      write.SplitBySent([](const DeviceSetting& setting, std::uint8_t value, bool wasSent) {
        return JsonString(setting.jsonKey) +
               (wasSent ? ": " + JsonItem(setting.ValueText(value)) : std::string());
      });
  std::string differences;
  for (const std::string& line : write.differences) {
    differences += (differences.empty() ? "" : ", ") + JsonString(line);
  }
  return "  \"write\": {\"sent\": {" + sent + "}, \"notSent\": [" + notSent +
         "], \"differences\": [" + differences + "]}";
}

}  // namespace

std::string FormatStoppedWriteJson(const std::string& port, const std::string& error,
                                   const WriteReport& write) {
  return "{\n  \"port\": " + JsonString(port) + ",\n  \"error\": " + JsonString(error) + ",\n" +
         WriteMember(write) + "\n}\n";
}

std::string FormatJson(const ReadReportView& report, const WriteReport* write) {
  const bool versionGood = report.version.status == ReplyStatus::Good;
  std::string json = "{\n";
  json += "  \"port\": " + JsonString(report.port) + ",\n";
  json += "  \"searchBaud\": " + JsonItem(report.searchBaud) + ",\n";
  json += "  \"hardwareVersion\": " +
          (versionGood ? JsonString(HardwareVersionText(report.hardwareVersion)) : "null") + ",\n";
  json +=
      "  \"softwareVersion\": " + (versionGood ? std::to_string(report.version.value) : "null") +
      ",\n";
  json += "  \"settings\": {\n";
  for (std::size_t i = 0; i < report.settings.size(); ++i) {
    const SettingReport& entry = report.settings[i];
    json += "    " + JsonString(entry.setting->jsonKey) + ": " +
            (entry.index >= 0 ? JsonItem(entry.text) : "null");
    json += i + 1 < report.settings.size() ? ",\n" : "\n";
  }
  json += "  },\n";
  json += "  \"problems\": [";
  const auto problems = Problems(report);
  for (std::size_t i = 0; i < problems.size(); ++i) {
    json += (i ? ", " : "") + JsonString(problems[i]);
  }
  json += "],\n  \"conclusion\": " +
          (report.conclusion.empty() ? std::string("null") : JsonString(report.conclusion));
  if (write) json += ",\n" + WriteMember(*write);
  json += "\n}\n";
  return json;
}

namespace {

// The item a write of `wanted` leaves in the list of `entry`.
std::string ItemAfter(const SettingReport& entry, int wanted) {
  if (wanted < 0) return entry.text;
  return entry.setting->Items()[static_cast<std::size_t>(wanted)];
}

}  // namespace

std::string FormatDryRunText(const ReadReportView& before, const std::array<int, 5>& wanted) {
  std::string text;
  int changes = 0;
  for (std::size_t i = 0; i < before.settings.size(); ++i) {
    const SettingReport& entry = before.settings[i];
    const std::string after = ItemAfter(entry, wanted[i]);
    text += std::string(entry.setting->label) + ": ";
    if (after == entry.text) {
      text += after + ", unchanged\n";
    } else {
      text += (entry.text.empty() ? std::string("not read") : entry.text) + " -> " + after + "\n";
      ++changes;
    }
  }
  return text + Printable(before.port) + ": dry run, nothing was written; " +
         (changes == 0 ? std::string("the device already holds these settings")
                       : std::to_string(changes) + (changes == 1 ? " setting" : " settings") +
                             " would change") +
         "\n";
}

std::string FormatDryRunJson(const ReadReportView& before, const std::array<int, 5>& wanted) {
  std::string json = "{\n  \"port\": " + JsonString(before.port) +
                     ",\n  \"searchBaud\": " + JsonItem(before.searchBaud) + ",\n  \"dryRun\": {\n";
  for (std::size_t i = 0; i < before.settings.size(); ++i) {
    const SettingReport& entry = before.settings[i];
    json += "    " + JsonString(entry.setting->jsonKey) +
            ": {\"now\": " + (entry.text.empty() ? std::string("null") : JsonItem(entry.text)) +
            ", \"new\": " + JsonItem(ItemAfter(entry, wanted[i])) + "}";
    json += i + 1 < before.settings.size() ? ",\n" : "\n";
  }
  return json + "  }\n}\n";
}

std::string JsonString(const std::string& text) {
  static const char* const kHex = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20) {
          out += "\\u00";
          out += kHex[u >> 4];
          out += kHex[u & 0x0F];
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

}  // namespace configurator::command_line
