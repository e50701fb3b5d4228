#include "comport/settings_files.h"

#include "comport/ini_store.h"
#include "comport/registry_store.h"
#include "winapi/winapi.h"

#include <memory>
#include <optional>
#include <system_error>

namespace comport {

namespace {

constexpr std::uint8_t kFailedToStore = 16;
constexpr std::uint8_t kFailedToLoad = 17;
constexpr std::uint8_t kRegistryError = 23;

// An INI store that files every key under one chosen section, whatever section the
// port's operations name.
class SectionIniStore : public TIniStore {
 public:
  SectionIniStore(const std::filesystem::path& fileName, std::optional<std::string> section)
      : TIniStore(fileName), section_(std::move(section)) {}

  std::string GetText(const std::string& Section, const std::string& Key,
                      const std::string& Default) override {
    return TIniStore::GetText(section_.value_or(Section), Key, Default);
  }
  void PutText(const std::string& Section, const std::string& Key,
               const std::string& Value) override {
    TIniStore::PutText(section_.value_or(Section), Key, Value);
  }
  std::int32_t GetInteger(const std::string& Section, const std::string& Key,
                          std::int32_t Default) override {
    return TIniStore::GetInteger(section_.value_or(Section), Key, Default);
  }
  void PutInteger(const std::string& Section, const std::string& Key, std::int32_t Value) override {
    TIniStore::PutInteger(section_.value_or(Section), Key, Value);
  }

 private:
  std::optional<std::string> section_;
};

std::unique_ptr<SectionIniStore> OpenIniFile(const TCustomComPort& port,
                                             const std::filesystem::path& fileName,
                                             const std::optional<std::string>& section,
                                             std::uint8_t failureCode) {
  try {
    return std::make_unique<SectionIniStore>(fileName, section);
  } catch (const EIniFileError&) {
    throw EComPort(port.Port(), failureCode);
  }
}

void SaveIni(TCustomComPort& port, const std::filesystem::path& fileName,
             const std::optional<std::string>& section) {
  const auto store = OpenIniFile(port, fileName, section, kFailedToStore);
  port.WriteSettingsToIni(*store);
  try {
    store->UpdateFile();
  } catch (const EIniFileError&) {
    throw EComPort(port.Port(), kFailedToStore);
  }
}

void LoadIni(TCustomComPort& port, const std::filesystem::path& fileName,
             const std::optional<std::string>& section) {
  std::error_code error;
  if (!std::filesystem::exists(fileName, error)) throw EComPort(port.Port(), kFailedToLoad);
  const auto store = OpenIniFile(port, fileName, section, kFailedToLoad);
  port.ReadSettingsFromIni(*store);
}

class OpenRegistryKey {
 public:
  OpenRegistryKey() = default;
  ~OpenRegistryKey() {
    if (key_ != nullptr) winapi::RegCloseKey(key_);
  }
  OpenRegistryKey(const OpenRegistryKey&) = delete;
  OpenRegistryKey& operator=(const OpenRegistryKey&) = delete;
  HKEY* Receiver() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

void SaveSettingsToIniFile(TCustomComPort& Port, const std::filesystem::path& FileName) {
  SaveIni(Port, FileName, std::nullopt);
}

void SaveSettingsToIniFile(TCustomComPort& Port, const std::filesystem::path& FileName,
                           const std::string& Section) {
  SaveIni(Port, FileName, Section);
}

void LoadSettingsFromIniFile(TCustomComPort& Port, const std::filesystem::path& FileName) {
  LoadIni(Port, FileName, std::nullopt);
}

void LoadSettingsFromIniFile(TCustomComPort& Port, const std::filesystem::path& FileName,
                             const std::string& Section) {
  LoadIni(Port, FileName, Section);
}

void SaveSettingsToRegistry(TCustomComPort& Port, HKEY Root, const std::string& KeyPath) {
  OpenRegistryKey key;
  const LONG rc =
      winapi::RegCreateKeyExA(Root, KeyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_WRITE | KEY_QUERY_VALUE, nullptr, key.Receiver(), nullptr);
  if (rc != ERROR_SUCCESS) {
    throw EComPortExt(Port.Port(), kRegistryError, static_cast<std::uint32_t>(rc));
  }
  TRegistryStore store(key.Get());
  Port.WriteSettingsToRegistry(store);
  // The values are written to disk together here, so a failure is reported rather than
  // lost in the key's close.
  if (const LONG flushed = winapi::RegFlushKey(key.Get()); flushed != ERROR_SUCCESS) {
    throw EComPortExt(Port.Port(), kRegistryError, static_cast<std::uint32_t>(flushed));
  }
}

void LoadSettingsFromRegistry(TCustomComPort& Port, HKEY Root, const std::string& KeyPath) {
  OpenRegistryKey key;
  const LONG rc = winapi::RegOpenKeyExA(Root, KeyPath.c_str(), 0, KEY_READ, key.Receiver());
  if (rc == ERROR_FILE_NOT_FOUND) throw EComPort(Port.Port(), kFailedToLoad);
  if (rc == ERROR_BADDB && !winapi::RegistryDamage().empty()) {
    throw EComPortExt(Port.Port(), kRegistryError, static_cast<std::uint32_t>(rc),
                      winapi::RegistryDamage());
  }
  if (rc != ERROR_SUCCESS) {
    throw EComPortExt(Port.Port(), kRegistryError, static_cast<std::uint32_t>(rc));
  }
  TRegistryStore store(key.Get());
  Port.ReadSettingsFromRegistry(store);
}

}  // namespace comport
