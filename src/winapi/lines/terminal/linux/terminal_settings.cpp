#include "lines/terminal/linux/terminal_settings.h"

#include <array>
#include <cstdlib>
#include <utility>

namespace winapi {

namespace {

constexpr std::array<std::pair<DWORD, tcflag_t>, 30> kStandardRates{{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

tcflag_t StandardRateCode(DWORD rate) {
  for (const auto& [value, code] : kStandardRates) {
    if (value == rate) return code;
  }
  return BOTHER;
}

bool FormatSupported(const DCB& dcb) {
  if (dcb.BaudRate == 0) return false;
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return false;
  if (dcb.Parity > SPACEPARITY) return false;
  if (dcb.StopBits == ONE5STOPBITS) return dcb.ByteSize == 5;
  return dcb.StopBits == ONESTOPBIT || dcb.StopBits == TWOSTOPBITS;
}

// A terminal has no DSR flow control, no DTR handshake and no RTS toggling; taking such
// a DCB silently would make the port behave unlike what was asked for.
bool HandshakeSupported(const DCB& dcb) {
  if (dcb.fOutxDsrFlow || dcb.fDsrSensitivity) return false;
  if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) return false;
  if (dcb.fRtsControl == RTS_CONTROL_TOGGLE) return false;
  if ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar) return false;
  return true;
}

tcflag_t CharacterSize(BYTE byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

}  // namespace

DWORD ApplyDcbToTermios(const DCB& dcb, termios2& tio) {
  if (!FormatSupported(dcb) || !HandshakeSupported(dcb)) return ERROR_INVALID_PARAMETER;

  const tcflag_t rateCode = StandardRateCode(dcb.BaudRate);
  tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= rateCode | (rateCode << IBSHIFT);
  tio.c_ispeed = dcb.BaudRate;
  tio.c_ospeed = dcb.BaudRate;

  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= CharacterSize(dcb.ByteSize) | CLOCAL | CREAD;
  switch (dcb.Parity) {
    case ODDPARITY:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case EVENPARITY:
      tio.c_cflag |= PARENB;
      break;
    case MARKPARITY:
      tio.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case SPACEPARITY:
      tio.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (dcb.StopBits != ONESTOPBIT) tio.c_cflag |= CSTOPB;
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) tio.c_cflag |= CRTSCTS;

  // Raw input: bytes arrive as sent. A break reads as one NUL, which also wakes the
  // worker so that it finds the break in the UART's counters.
  tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXON |
                   IXOFF | IXANY | IMAXBEL | INPCK | IGNPAR);
  if (dcb.fParity) tio.c_iflag |= INPCK;
  if (dcb.fOutX) tio.c_iflag |= IXON;
  if (dcb.fInX) tio.c_iflag |= IXOFF;
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT | ECHOKE | ICANON | ISIG |
                   IEXTEN | XCASE | NOFLSH | TOSTOP);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  return ERROR_SUCCESS;
}

DWORD TermiosRate(const termios2& tio) {
  const tcflag_t code = tio.c_cflag & CBAUD;
  if (code == BOTHER) return tio.c_ospeed;
  for (const auto& [value, standard] : kStandardRates) {
    if (standard == code) return value;
  }
  return 0;
}

bool RateTaken(DWORD requested, const termios2& actual) {
  const DWORD rate = TermiosRate(actual);
  if (rate == 0) return false;
  // A UART divides its clock; a rate off by more than 2 % breaks framing.
  const auto difference = static_cast<long long>(rate) - static_cast<long long>(requested);
  return std::llabs(difference) * 50 <= static_cast<long long>(requested);
}

}  // namespace winapi
