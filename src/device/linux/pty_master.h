// The master side of a pseudo-terminal in packet mode, with EXTPROC set so that the
// slave's termios changes are reported on the master.
#pragma once

#include "winapi/owned_fd.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace device {

class PtyMaster {
 public:
  // Throws std::system_error when no pseudo-terminal can be had.
  PtyMaster();

  int Fd() const { return fd_.Get(); }
  const std::string& SlavePath() const { return slavePath_; }

  // The rate the slave's settings give (both sides share one set of settings).
  std::uint32_t Rate() const;
  // Sets EXTPROC again if something cleared it.
  void KeepExtproc() const;

  struct Packets {
    std::vector<std::uint8_t> data;  // what the slave wrote
    bool settingsChanged = false;    // the slave changed its termios
    bool any = false;                // at least one packet came
    bool hungUp = false;             // no slave has the terminal open
  };
  // Reads every packet waiting, without blocking.
  Packets ReadAll() const;
  // Whether the master reports a hang-up now (the last slave descriptor was closed).
  bool HungUp() const;
  // Writes all of `bytes` unless the slave is gone; false then.
  bool Write(std::span<const std::uint8_t> bytes) const;
  // Closes the master for good: the slave's reads and writes fail from now on and its
  // path goes away, as with an adapter pulled out.
  void Unplug() { fd_ = winapi::OwnedFd(); }

 private:
  winapi::OwnedFd fd_;
  std::string slavePath_;
};

}  // namespace device
