// Text forms of the port's settings as they are kept in a settings store. Parsing never
// fails: a text that matches nothing gives the fallback value of its table.
#pragma once

#include "comport/types.h"

#include <string>

namespace comport {

std::string BaudRateText(TBaudRate value);
std::string StopBitsText(TStopBits value);
std::string DataBitsText(TDataBits value);
std::string ParityText(TParityBits value);
std::string FlowControlText(TFlowControl value);
std::string DTRControlText(TDTRFlowControl value);
std::string RTSControlText(TRTSFlowControl value);
std::string YesNoText(bool value);
// Codes 33..127 as the character itself, every other code as "#" + decimal code.
std::string CharText(char value);

// Enumeration texts match without regard to ASCII letter case and without trimming.
TBaudRate ParseBaudRate(const std::string& text);          // fallback br9600
TStopBits ParseStopBits(const std::string& text);          // fallback sbOneStopBit
TDataBits ParseDataBits(const std::string& text);          // fallback dbEight
TParityBits ParseParity(const std::string& text);          // fallback prNone
TFlowControl ParseFlowControl(const std::string& text);    // fallback fcCustom
TDTRFlowControl ParseDTRControl(const std::string& text);  // fallback dtrDisable
TRTSFlowControl ParseRTSControl(const std::string& text);  // fallback rtsDisable
bool ParseYesNo(const std::string& text);                  // true only for "yes" in any case
// "" gives 0; a text not starting with "#", or "#" alone, gives its first character;
// "#" + a 32-bit integer (decimal, or hex after $, x or 0x) gives its low 8 bits;
// anything else gives 0.
char ParseCharText(const std::string& text);

}  // namespace comport
