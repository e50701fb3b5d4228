// What a read found, gathered from the window after it ran, and its text and JSON forms.
#pragma once

#include "configurator/form_pzrq480.h"

#include <array>
#include <string>
#include <vector>

namespace configurator::command_line {

struct SettingReport {
  const DeviceSetting* setting = nullptr;
  ReplyResult reply;
  int index = -1;    // the list item the reply selected
  std::string text;  // that item's text; empty when none
};

struct ReadReportView {
  std::string port;
  std::string searchBaud;
  ReplyResult version;
  std::uint8_t hardwareVersion = 0;
  std::array<SettingReport, 5> settings;
  // When nothing could be read: that, why, and what to do (one line). Empty otherwise.
  std::string conclusion;
};

ReadReportView CollectRead(TFormPZRQ480& form);

// One line per request whose answer is missing or unusable, naming the port.
std::vector<std::string> Problems(const ReadReportView& report);

// True when no request got a usable reply: not even the versions were read.
bool NothingRead(const ReadReportView& report);

// What was read; nothing when nothing was (the conclusion says why, on its own).
std::string FormatText(const ReadReportView& report);
// With a write, a "write" member tells what was sent and what the read-back differs in.
std::string FormatJson(const ReadReportView& report, const WriteReport* write = nullptr);
// A write an error stopped: the port, the error and what was sent and what not.
std::string FormatStoppedWriteJson(const std::string& port, const std::string& error,
                                   const WriteReport& write);

// What a write of list indexes `wanted` (-1: kept as read) would change on the device
// that `before` read: one line per setting ("XpressNet address: 3 -> 12", "Baud rate:
// 57600, unchanged"), or as JSON {"port", "searchBaud", "dryRun": {key: {"now", "new"}}}.
std::string FormatDryRunText(const ReadReportView& before, const std::array<int, 5>& wanted);
std::string FormatDryRunJson(const ReadReportView& before, const std::array<int, 5>& wanted);

// A JSON string literal.
std::string JsonString(const std::string& text);

}  // namespace configurator::command_line
