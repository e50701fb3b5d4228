// The Windows file and comm calls on Linux: every one goes to the driver model of the
// device behind the handle.
#include "driver/common/device_open.h"
#include "lines/network/common/network_line.h"
#include "lines/virtual/common/virtual_lines.h"
#include "lines/terminal/linux/terminal.h"
#include "winapi/network_port.h"
#include "winapi/winapi.h"

namespace winapi {
namespace {

using driver::CommDevice;

BOOL InvalidHandle() {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

// The call on the comm device behind `handle`; any other handle is refused, as
// Windows refuses comm calls on handles that are not comm devices.
template <typename... Params, typename... Args>
BOOL OnDevice(HANDLE handle, BOOL (CommDevice::*call)(Params...), Args... args) {
  const std::shared_ptr<CommDevice> device = driver::FindDevice(handle);
  if (!device) return InvalidHandle();
  return (device.get()->*call)(args...);
}

HANDLE FailOpen(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                   DWORD, HANDLE) {
  if (!lpFileName || !*lpFileName) return FailOpen(ERROR_PATH_NOT_FOUND);
  const std::string name = driver::DeviceNameOf(lpFileName);
  DWORD error = 0;
  std::unique_ptr<driver::Line> line = driver::OpenVirtualLine(name, error);
  if (!line && error) return FailOpen(error);
  if (!line) {
    std::string path;
    if (IsNetworkPortName(name) || name.find('/') != std::string::npos) {
      path = name;
    } else if (auto mapped = driver::ResolveComPortPath(name)) {
      path = *mapped;
    } else {
      return FailOpen(ERROR_FILE_NOT_FOUND);
    }
    line = IsNetworkPortName(path) ? driver::OpenNetworkLine(path, error)
                                   : driver::OpenTerminalLine(path, error);
    if (!line) return FailOpen(error ? error : ERROR_FILE_NOT_FOUND);
  }
  HANDLE handle = driver::OpenDevice(std::move(line), dwDesiredAccess);
  SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL CloseHandle(HANDLE hObject) {
  if (auto device = driver::FindDevice(hObject)) return driver::CloseDevice(hObject, *device);
  if (!handles::Remove(hObject)) return InvalidHandle();
  return TRUE;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  return OnDevice(hFile, &CommDevice::Read, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead,
                  lpOverlapped);
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  return OnDevice(hFile, &CommDevice::Write, lpBuffer, nNumberOfBytesToWrite,
                  lpNumberOfBytesWritten, lpOverlapped);
}

BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped,
                         LPDWORD lpNumberOfBytesTransferred, BOOL bWait) {
  return OnDevice(hFile, &CommDevice::GetOverlappedResult, lpOverlapped, lpNumberOfBytesTransferred,
                  bWait);
}

BOOL SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue) {
  return OnDevice(hFile, &CommDevice::Setup, dwInQueue, dwOutQueue);
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB) {
  return OnDevice(hFile, &CommDevice::SetState, lpDCB);
}

BOOL GetCommState(HANDLE hFile, LPDCB lpDCB) {
  return OnDevice(hFile, &CommDevice::GetState, lpDCB);
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  return OnDevice(hFile, &CommDevice::SetTimeouts, lpCommTimeouts);
}

BOOL GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  return OnDevice(hFile, &CommDevice::GetTimeouts, lpCommTimeouts);
}

BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
  return OnDevice(hFile, &CommDevice::SetMask, dwEvtMask);
}

BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped) {
  return OnDevice(hFile, &CommDevice::WaitEvent, lpEvtMask, lpOverlapped);
}

BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  return OnDevice(hFile, &CommDevice::ClearError, lpErrors, lpStat);
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags) {
  return OnDevice(hFile, &CommDevice::Purge, dwFlags);
}

BOOL GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
  return OnDevice(hFile, &CommDevice::GetModemStatus, lpModemStat);
}

}  // namespace winapi
