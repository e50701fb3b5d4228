// Giving a device a fixed COM name: a link in the user's port map (Linux). Windows
// numbers its ports itself, so there both calls refuse with a message saying so.
#pragma once

#include <stdexcept>
#include <string>

namespace winapi {

// A request the port map cannot carry out; the message says why and what to do.
class PortMapError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PortPin {
  std::string link;    // the map entry written or removed
  std::string target;  // where it leads
  std::string note;    // a remark for the user; empty when there is none
};

// Links COMn to `device`, replacing an earlier link. The link goes to the adapter's
// /dev/serial/by-id name, so that the COM name follows it to any USB socket; without
// one (an adapter with no serial number) to its /dev/serial/by-path name, which holds
// only in that socket (the note says so); any other terminal is linked as given.
// Refuses a name that is no COM name and a device that is missing or no terminal.
PortPin MapComPort(const std::string& name, const std::string& device);

// Removes the map entry of COMn; refuses when there is none.
PortPin UnmapComPort(const std::string& name);

}  // namespace winapi
