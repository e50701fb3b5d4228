// The simulator's entry in the port map: a link "COMn" -> the pseudo-terminal, so that
// programs opening COMn reach it. The entry goes when the object does.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace sim {

class RegistrationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PortRegistration {
 public:
  // Links `comName` (or, without one, the first of COM1..COM20 that has no map entry and
  // whose usual device does not exist) to `target` in `mapDir`, creating the folder.
  // Throws RegistrationError when the name is taken or none is free.
  PortRegistration(const std::filesystem::path& mapDir, const std::optional<std::string>& comName,
                   const std::string& target);
  // Removes the link, unless something else has replaced it meanwhile.
  ~PortRegistration();
  PortRegistration(const PortRegistration&) = delete;
  PortRegistration& operator=(const PortRegistration&) = delete;

  const std::string& ComName() const { return comName_; }
  const std::filesystem::path& LinkPath() const { return link_; }

 private:
  std::string comName_;
  std::filesystem::path link_;
  std::string target_;
};

// The port map folder, as the serial layer finds it; throws RegistrationError when the
// environment gives none.
std::filesystem::path PortMapFolder();

}  // namespace sim
