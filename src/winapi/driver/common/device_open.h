// What CreateFileA does for a device on both systems once it has a line for it.
#pragma once

#include "driver/common/comm_device.h"

#include <string>

namespace winapi::driver {

// The device name of a CreateFileA file name: "\\.\COM5" and "COM5" both give "COM5".
std::string DeviceNameOf(const std::string& fileName);

// Puts a driver model on `line` and hands out its handle.
HANDLE OpenDevice(std::unique_ptr<Line> line, DWORD access);

// The comm device of a handle; null for anything else.
std::shared_ptr<CommDevice> FindDevice(HANDLE handle);

// CloseHandle of a comm device handle.
BOOL CloseDevice(HANDLE handle, CommDevice& device);

}  // namespace winapi::driver
