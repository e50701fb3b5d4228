// Saving and loading the port's settings. One table lists every stored key in the
// order the stores see them; each entry knows its group, its stored form and the
// setter that takes it back, so writing and reading cannot drift apart.
#include "comport/ini_store.h"
#include "comport/port.h"
#include "comport/registry_store.h"
#include "comport/text_conversion.h"

#include <array>

namespace comport {

namespace {

using Port = TCustomComPort;

struct SettingKey {
  const char* name;
  TSettingGroup group;
  // Exactly one pair is set: text keys have the first, integer keys the second.
  std::string (*text)(const Port&);
  void (*assignText)(Port&, const std::string&);
  std::int32_t (*integer)(const Port&);
  void (*assignInteger)(Port&, std::int32_t);
};

constexpr const char* kCustomBaudRate = "CustomBaudRate";
// Absent from an INI store, the custom rate reads as this, not as the current rate.
constexpr std::int32_t kCustomBaudRateDefault = 9600;

SettingKey Text(const char* name, TSettingGroup group, std::string (*text)(const Port&),
                void (*assign)(Port&, const std::string&)) {
  return {name, group, text, assign, nullptr, nullptr};
}

SettingKey Integer(const char* name, TSettingGroup group, std::int32_t (*integer)(const Port&),
                   void (*assign)(Port&, std::int32_t)) {
  return {name, group, nullptr, nullptr, integer, assign};
}

// Groups appear in the order they are visited: connection, other, parity, buffer,
// time-outs, flow control.
const std::array<SettingKey, 29>& SettingKeys() {
  static const std::array<SettingKey, 29> keys{
      Text(
          "Port", sgConnection, [](const Port& p) { return p.Port(); },
          [](Port& p, const std::string& t) { p.SetPort(t); }),
      Text(
          "BaudRate", sgConnection, [](const Port& p) { return BaudRateText(p.BaudRate()); },
          [](Port& p, const std::string& t) { p.SetBaudRate(ParseBaudRate(t)); }),
      Integer(
          kCustomBaudRate, sgConnection, [](const Port& p) { return p.CustomBaudRate(); },
          [](Port& p, std::int32_t v) { p.SetCustomBaudRate(v); }),
      Text(
          "StopBits", sgConnection, [](const Port& p) { return StopBitsText(p.StopBits()); },
          [](Port& p, const std::string& t) { p.SetStopBits(ParseStopBits(t)); }),
      Text(
          "DataBits", sgConnection, [](const Port& p) { return DataBitsText(p.DataBits()); },
          [](Port& p, const std::string& t) { p.SetDataBits(ParseDataBits(t)); }),
      Text(
          "Parity", sgConnection, [](const Port& p) { return ParityText(p.Parity().Bits()); },
          [](Port& p, const std::string& t) { p.Parity().SetBits(ParseParity(t)); }),
      Text(
          "FlowControl", sgConnection,
          [](const Port& p) { return FlowControlText(p.FlowControl().FlowControl()); },
          [](Port& p, const std::string& t) {
            p.FlowControl().SetFlowControl(ParseFlowControl(t));
          }),
      Text(
          "EventChar", sgOther, [](const Port& p) { return CharText(p.EventChar()); },
          [](Port& p, const std::string& t) { p.SetEventChar(ParseCharText(t)); }),
      Text(
          "DiscardNull", sgOther, [](const Port& p) { return YesNoText(p.DiscardNull()); },
          [](Port& p, const std::string& t) { p.SetDiscardNull(ParseYesNo(t)); }),
      Text(
          "Parity.Check", sgParity, [](const Port& p) { return YesNoText(p.Parity().Check()); },
          [](Port& p, const std::string& t) { p.Parity().SetCheck(ParseYesNo(t)); }),
      Text(
          "Parity.Replace", sgParity, [](const Port& p) { return YesNoText(p.Parity().Replace()); },
          [](Port& p, const std::string& t) { p.Parity().SetReplace(ParseYesNo(t)); }),
      Text(
          "Parity.ReplaceChar", sgParity,
          [](const Port& p) { return CharText(p.Parity().ReplaceChar()); },
          [](Port& p, const std::string& t) { p.Parity().SetReplaceChar(ParseCharText(t)); }),
      Integer(
          "Buffer.OutputSize", sgBuffer, [](const Port& p) { return p.Buffer().OutputSize(); },
          [](Port& p, std::int32_t v) { p.Buffer().SetOutputSize(v); }),
      Integer(
          "Buffer.InputSize", sgBuffer, [](const Port& p) { return p.Buffer().InputSize(); },
          [](Port& p, std::int32_t v) { p.Buffer().SetInputSize(v); }),
      Integer(
          "Timeouts.ReadInterval", sgTimeouts,
          [](const Port& p) { return p.Timeouts().ReadInterval(); },
          [](Port& p, std::int32_t v) { p.Timeouts().SetReadInterval(v); }),
      Integer(
          "Timeouts.ReadTotalConstant", sgTimeouts,
          [](const Port& p) { return p.Timeouts().ReadTotalConstant(); },
          [](Port& p, std::int32_t v) { p.Timeouts().SetReadTotalConstant(v); }),
      Integer(
          "Timeouts.ReadTotalMultiplier", sgTimeouts,
          [](const Port& p) { return p.Timeouts().ReadTotalMultiplier(); },
          [](Port& p, std::int32_t v) { p.Timeouts().SetReadTotalMultiplier(v); }),
      Integer(
          "Timeouts.WriteTotalConstant", sgTimeouts,
          [](const Port& p) { return p.Timeouts().WriteTotalConstant(); },
          [](Port& p, std::int32_t v) { p.Timeouts().SetWriteTotalConstant(v); }),
      Integer(
          "Timeouts.WriteTotalMultiplier", sgTimeouts,
          [](const Port& p) { return p.Timeouts().WriteTotalMultiplier(); },
          [](Port& p, std::int32_t v) { p.Timeouts().SetWriteTotalMultiplier(v); }),
      Text(
          "FlowControl.ControlRTS", sgFlowControl,
          [](const Port& p) { return RTSControlText(p.FlowControl().ControlRTS()); },
          [](Port& p, const std::string& t) { p.FlowControl().SetControlRTS(ParseRTSControl(t)); }),
      Text(
          "FlowControl.ControlDTR", sgFlowControl,
          [](const Port& p) { return DTRControlText(p.FlowControl().ControlDTR()); },
          [](Port& p, const std::string& t) { p.FlowControl().SetControlDTR(ParseDTRControl(t)); }),
      Text(
          "FlowControl.DSRSensitivity", sgFlowControl,
          [](const Port& p) { return YesNoText(p.FlowControl().DSRSensitivity()); },
          [](Port& p, const std::string& t) { p.FlowControl().SetDSRSensitivity(ParseYesNo(t)); }),
      Text(
          "FlowControl.OutCTSFlow", sgFlowControl,
          [](const Port& p) { return YesNoText(p.FlowControl().OutCTSFlow()); },
          [](Port& p, const std::string& t) { p.FlowControl().SetOutCTSFlow(ParseYesNo(t)); }),
      Text(
          "FlowControl.OutDSRFlow", sgFlowControl,
          [](const Port& p) { return YesNoText(p.FlowControl().OutDSRFlow()); },
          [](Port& p, const std::string& t) { p.FlowControl().SetOutDSRFlow(ParseYesNo(t)); }),
      Text(
          "FlowControl.TxContinueOnXoff", sgFlowControl,
          [](const Port& p) { return YesNoText(p.FlowControl().TxContinueOnXoff()); },
          [](Port& p, const std::string& t) {
            p.FlowControl().SetTxContinueOnXoff(ParseYesNo(t));
          }),
      Text(
          "FlowControl.XonXoffIn", sgFlowControl,
          [](const Port& p) { return YesNoText(p.FlowControl().XonXoffIn()); },
          [](Port& p, const std::string& t) { p.FlowControl().SetXonXoffIn(ParseYesNo(t)); }),
      Text(
          "FlowControl.XonXoffOut", sgFlowControl,
          [](const Port& p) { return YesNoText(p.FlowControl().XonXoffOut()); },
          [](Port& p, const std::string& t) { p.FlowControl().SetXonXoffOut(ParseYesNo(t)); }),
      Text(
          "FlowControl.XoffChar", sgFlowControl,
          [](const Port& p) { return CharText(p.FlowControl().XoffChar()); },
          [](Port& p, const std::string& t) { p.FlowControl().SetXoffChar(ParseCharText(t)); }),
      Text(
          "FlowControl.XonChar", sgFlowControl,
          [](const Port& p) { return CharText(p.FlowControl().XonChar()); },
          [](Port& p, const std::string& t) { p.FlowControl().SetXonChar(ParseCharText(t)); }),
  };
  return keys;
}

bool IsCustomBaudRate(const SettingKey& key) {
  return std::string_view(key.name) == kCustomBaudRate;
}

// Visits the stored keys of the selected groups in order. The custom rate takes part
// only while the baud rate is brCustom, judged at the moment its turn comes, so that a
// read sees the rate just assigned from "BaudRate".
template <typename Visit>
void ForEachStoredKey(const Port& port, Visit visit) {
  for (const SettingKey& key : SettingKeys()) {
    if (!port.StoredGroups().Contains(key.group)) continue;
    if (IsCustomBaudRate(key) && port.BaudRate() != brCustom) continue;
    visit(key);
  }
}

}  // namespace

void TCustomComPort::WriteSettingsToRegistry(TRegistryStore& Store) {
  ForEachStoredKey(*this, [&](const SettingKey& key) {
    if (key.text) {
      Store.PutText(key.name, key.text(*this));
    } else {
      Store.PutInteger(key.name, key.integer(*this));
    }
  });
}

void TCustomComPort::WriteSettingsToIni(TIniStore& Store) {
  ForEachStoredKey(*this, [&](const SettingKey& key) {
    if (key.text) {
      Store.PutText(Name(), key.name, key.text(*this));
    } else {
      Store.PutInteger(Name(), key.name, key.integer(*this));
    }
  });
}

void TCustomComPort::ReadSettingsFromRegistry(TRegistryStore& Store) {
  ForEachStoredKey(*this, [&](const SettingKey& key) {
    if (key.text) {
      key.assignText(*this, Store.GetText(key.name));
    } else {
      key.assignInteger(*this, Store.GetInteger(key.name));
    }
  });
}

void TCustomComPort::ReadSettingsFromIni(TIniStore& Store) {
  // Each default is the setting as it stands when its key comes, after the keys before
  // it were assigned, so an absent key leaves its setting alone.
  ForEachStoredKey(*this, [&](const SettingKey& key) {
    if (key.text) {
      key.assignText(*this, Store.GetText(Name(), key.name, key.text(*this)));
    } else {
      const std::int32_t fallback =
          IsCustomBaudRate(key) ? kCustomBaudRateDefault : key.integer(*this);
      key.assignInteger(*this, Store.GetInteger(Name(), key.name, fallback));
    }
  });
}

}  // namespace comport
