#include "port_registration.h"

#include "winapi/port_map.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <unistd.h>

namespace sim {

namespace {

constexpr unsigned kLastProbed = 20;

bool EntryExists(const std::filesystem::path& entry) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(entry, error));
}

bool UsualDeviceExists(unsigned number) {
  const auto device = winapi::DefaultComPortPath(number);
  std::error_code error;
  return device && std::filesystem::exists(*device, error);
}

// symlink(2) fails when the entry exists, so two simulators never take the same name.
bool TryLink(const std::string& target, const std::filesystem::path& entry) {
  if (::symlink(target.c_str(), entry.c_str()) == 0) return true;
  if (errno == EEXIST) return false;
  throw RegistrationError("cannot create " + entry.string() + ": " + std::strerror(errno));
}

}  // namespace

std::filesystem::path PortMapFolder() {
  const auto folder = winapi::PortMapDirectory();
  if (!folder) {
    throw RegistrationError("no port map folder: set PZ_PORT_MAP_DIR, or HOME to an absolute path");
  }
  return *folder;
}

PortRegistration::PortRegistration(const std::filesystem::path& mapDir,
                                   const std::optional<std::string>& comName,
                                   const std::string& target)
    : target_(target) {
  std::error_code error;
  std::filesystem::create_directories(mapDir, error);
  if (error) {
    throw RegistrationError("cannot create the port map folder " + mapDir.string() + ": " +
                            error.message());
  }
  if (comName) {
    const auto entry = mapDir / *comName;
    if (!TryLink(target, entry)) {
      throw RegistrationError(*comName + " is taken: " + entry.string() +
                              " exists (remove it if no simulator uses it)");
    }
    comName_ = *comName;
    link_ = entry;
    return;
  }
  for (unsigned number = 1; number <= kLastProbed; ++number) {
    const std::string name = "COM" + std::to_string(number);
    const auto entry = mapDir / name;
    if (EntryExists(entry) || UsualDeviceExists(number)) continue;
    if (TryLink(target, entry)) {
      comName_ = name;
      link_ = entry;
      return;
    }
  }
  throw RegistrationError("no free COM name among COM1..COM20 in " + mapDir.string());
}

PortRegistration::~PortRegistration() {
  std::error_code error;
  if (std::filesystem::read_symlink(link_, error) == target_ && !error) {
    std::filesystem::remove(link_, error);
  }
}

}  // namespace sim
