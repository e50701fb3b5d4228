#include "driver/common/device_open.h"

namespace winapi::driver {

std::string DeviceNameOf(const std::string& fileName) {
  static const std::string kDevicePrefix = "\\\\.\\";
  if (fileName.rfind(kDevicePrefix, 0) == 0) return fileName.substr(kDevicePrefix.size());
  return fileName;
}

HANDLE OpenDevice(std::unique_ptr<Line> line, DWORD access) {
  auto device = std::make_shared<CommDevice>(std::move(line), access);
  device->Open();
  return handles::Insert(std::move(device));
}

std::shared_ptr<CommDevice> FindDevice(HANDLE handle) {
  return handles::FindAs<CommDevice>(handle);
}

BOOL CloseDevice(HANDLE handle, CommDevice& device) {
  if (!device.Close()) return FALSE;
  handles::Remove(handle);
  return TRUE;
}

}  // namespace winapi::driver
