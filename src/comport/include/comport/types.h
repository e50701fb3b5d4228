// Enumerations and sets of the serial port component. Ordinals are fixed: the line
// configuration tables and stored settings depend on them.
#pragma once

#include "comport/enum_set.h"

#include <cstdint>

namespace comport {

enum TBaudRate : std::uint8_t {
  brCustom,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};
enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : std::uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone, smDisableEvents };

enum TComEvent : std::uint8_t {
  evRxChar,
  evTxEmpty,
  evRxFlag,
  evRing,
  evBreak,
  evCTS,
  evDSR,
  evError,
  evRLSD,
  evRx80Full
};
using TComEvents = EnumSet<TComEvent, std::uint16_t>;
inline constexpr TComEvents AllComEvents = TComEvents::FromBits(0x03FF);

enum TComError : std::uint8_t {
  ceFrame,
  ceRxParity,
  ceOverrun,
  ceBreak,
  ceIO,
  ceMode,
  ceRxOver,
  ceTxFull
};
using TComErrors = EnumSet<TComError, std::uint8_t>;

enum TModemSignal : std::uint8_t { msCTS, msDSR, msRing, msRLSD };
using TModemSignals = EnumSet<TModemSignal, std::uint8_t>;

enum TAsyncDirection : std::uint8_t { adWrite, adRead };

enum TSettingGroup : std::uint8_t {
  sgConnection,
  sgFlowControl,
  sgBuffer,
  sgTimeouts,
  sgParity,
  sgOther
};
using TSettingGroups = EnumSet<TSettingGroup, std::uint8_t>;

}  // namespace comport
