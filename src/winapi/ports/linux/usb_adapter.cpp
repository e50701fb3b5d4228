#include "ports/linux/usb_adapter.h"

#include <fstream>
#include <system_error>

namespace winapi {

namespace {

namespace fs = std::filesystem;

// A USB interface sits one level below its device, a usb-serial port two.
constexpr int kMaxLevelsUp = 4;

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// Where a link leads, relative targets counted from its folder; links along the way
// are followed where the target exists.
fs::path Target(const fs::path& link) {
  std::error_code error;
  fs::path target = fs::read_symlink(link, error);
  if (error) return link;
  if (target.is_relative()) target = link.parent_path() / target;
  const fs::path canonical = fs::canonical(target, error);
  return error ? target.lexically_normal() : canonical;
}

fs::path Canonical(const std::string& path) {
  std::error_code error;
  const fs::path canonical = fs::canonical(path, error);
  return error ? fs::path(path).lexically_normal() : canonical;
}

}  // namespace

std::string SerialLinkTo(const std::string& devicePath, const fs::path& linkFolder) {
  const fs::path device = Canonical(devicePath);
  std::error_code error;
  for (fs::directory_iterator it(linkFolder, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_symlink(error) && Target(it->path()) == device) return it->path().string();
  }
  return {};
}

std::optional<UsbAdapter> UsbAdapterOf(const std::string& devicePath, const fs::path& sysRoot,
                                       const fs::path& serialLinksRoot) {
  const std::string tty = Canonical(devicePath).filename().string();
  if (tty.empty()) return std::nullopt;
  std::error_code error;
  fs::path folder = fs::canonical(sysRoot / "class" / "tty" / tty / "device", error);
  if (error) return std::nullopt;
  for (int level = 0; level <= kMaxLevelsUp; ++level, folder = folder.parent_path()) {
    if (!fs::exists(folder / "idVendor", error)) continue;
    UsbAdapter adapter;
    adapter.manufacturer = ReadLine(folder / "manufacturer");
    adapter.product = ReadLine(folder / "product");
    adapter.vendorId = ReadLine(folder / "idVendor");
    adapter.productId = ReadLine(folder / "idProduct");
    adapter.serialNumber = ReadLine(folder / "serial");
    adapter.byIdLink = SerialLinkTo(devicePath, serialLinksRoot / "by-id");
    return adapter;
  }
  return std::nullopt;
}

}  // namespace winapi
