#include "configurator/device_settings.h"

#include "configurator/form_pzrq480.h"

#include <algorithm>
#include <charconv>

namespace configurator {

namespace {

constexpr const char* kBaudRateItems[] = {"19200", "38400", "57600", "115200"};
constexpr const char* kCommandStationItems[] = {"General (Lenz, Roco)", "Tran ZF5"};

const std::array<DeviceSetting, 5> kSettings{{
    {.number = 1,
     .label = "XpressNet address",
     .list = &TFormPZRQ480::cbXPAddr,
     .coding = ValueCoding::DecimalText,
     .firstNumber = 1,
     .lastNumber = 31,
     .initialItem = "31",
     .option = "address",
     .jsonKey = "xpressnetAddress"},
    {.number = 2,
     .label = "Baud rate",
     .list = &TFormPZRQ480::cbBaudRate,
     .coding = ValueCoding::IndexPlusOne,
     .texts = kBaudRateItems,
     .initialItem = "19200",
     .option = "baud-rate",
     .jsonKey = "baudRate",
     .changesLineRate = true},
    {.number = 3,
     .label = "S88 start address",
     .list = &TFormPZRQ480::cbS88Addr,
     .coding = ValueCoding::DecimalText,
     .firstNumber = 1,
     .lastNumber = 192,
     .initialItem = "65",
     .option = "s88-start",
     .jsonKey = "s88StartAddress"},
    {.number = 4,
     .label = "S88 module count",
     .list = &TFormPZRQ480::cbS88Num,
     .coding = ValueCoding::DecimalText,
     .firstNumber = 1,
     .lastNumber = 126,
     .initialItem = "1",
     .option = "s88-modules",
     .jsonKey = "s88ModuleCount"},
    {.number = 5,
     .label = "Command station",
     .list = &TFormPZRQ480::cbCommStat,
     .coding = ValueCoding::Index,
     .texts = kCommandStationItems,
     .initialItem = "General (Lenz, Roco)",
     .option = "command-station",
     .jsonKey = "commandStation"},
}};

}  // namespace

std::optional<int> DecimalNumber(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || ptr != end) return std::nullopt;
  return value;
}

std::string HardwareVersionText(std::uint8_t version) {
  return std::to_string(version >> 4) + "." + std::to_string(version & 0x0F);
}

std::vector<std::string> DeviceSetting::Items() const {
  std::vector<std::string> items;
  if (coding == ValueCoding::DecimalText) {
    for (int n = firstNumber; n <= lastNumber; ++n) items.push_back(std::to_string(n));
  } else {
    items.assign(texts.begin(), texts.end());
  }
  return items;
}

int DeviceSetting::ItemCount() const {
  if (coding == ValueCoding::DecimalText) return std::max(lastNumber - firstNumber + 1, 0);
  return static_cast<int>(texts.size());
}

std::string DeviceSetting::ValuesText() const {
  const auto items = Items();
  if (coding == ValueCoding::DecimalText) return items.front() + ".." + items.back();
  std::string values;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) values += ", ";
    values += "\"" + items[i] + "\" or " + std::to_string(ValueForIndex(static_cast<int>(i)));
  }
  return values;
}

int DeviceSetting::IndexForReply(std::uint8_t value) const {
  int index = -1;
  switch (coding) {
    case ValueCoding::DecimalText:
      index = value - firstNumber;
      break;
    case ValueCoding::IndexPlusOne:
      index = value == 0 ? 0 : value - 1;
      break;
    case ValueCoding::Index:
      index = value;
      break;
  }
  return index >= 0 && index < ItemCount() ? index : -1;
}

std::string DeviceSetting::ValueText(std::uint8_t value) const {
  const int index = IndexForReply(value);
  // A baud rate of 0 selects the first item but is not that item's value.
  if (index < 0 || ValueForIndex(index) != value) return std::to_string(value);
  return Items()[static_cast<std::size_t>(index)];
}

std::uint8_t DeviceSetting::ValueForIndex(int index) const {
  switch (coding) {
    case ValueCoding::DecimalText:
      return static_cast<std::uint8_t>(firstNumber + index);
    case ValueCoding::IndexPlusOne:
      return static_cast<std::uint8_t>(index + 1);
    case ValueCoding::Index:
      break;
  }
  return static_cast<std::uint8_t>(index);
}

std::optional<int> DeviceSetting::IndexForText(const std::string& text) const {
  const auto items = Items();
  const auto it = std::find(items.begin(), items.end(), text);
  if (it != items.end()) return static_cast<int>(it - items.begin());
  if (coding == ValueCoding::DecimalText) return std::nullopt;
  // The lists of named items also take the number that goes on the wire.
  const auto number = DecimalNumber(text);
  if (!number || *number < 0 || *number > 255) return std::nullopt;
  const int first = coding == ValueCoding::IndexPlusOne ? 1 : 0;
  const int index = *number - first;
  if (index < 0 || index >= static_cast<int>(items.size())) return std::nullopt;
  return index;
}

const std::array<DeviceSetting, 5>& DeviceSettings() {
  return kSettings;
}

}  // namespace configurator
