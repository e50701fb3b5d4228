// On Windows every call goes to the system, except those on the handles of virtual lines
// and network ports, which reach the driver model like on Linux.
#include "ports/windows/mapped_network_ports.h"
#include "driver/common/debug_sink.h"
#include "driver/common/device_open.h"
#include "lines/network/common/network_line.h"
#include "lines/virtual/common/virtual_lines.h"
#include "winapi/network_port.h"
#include "winapi/winapi.h"

namespace winapi {
namespace {

// The emulated device behind an emulated handle; null (with the last error set) when
// the handle is emulated but unknown or closed.
std::shared_ptr<driver::CommDevice> VirtualDevice(HANDLE handle) {
  auto device = driver::FindDevice(handle);
  if (!device) ::SetLastError(ERROR_INVALID_HANDLE);
  return device;
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  if (lpFileName) {
    DWORD error = 0;
    const std::string name = driver::DeviceNameOf(lpFileName);
    auto line = IsNetworkPortName(name) ? driver::OpenNetworkLine(name, error)
                                        : driver::OpenVirtualLine(name, error);
    // A COM name the user gave a network port.
    if (!line && !error) {
      if (const auto target = MappedNetworkPort(name))
        line = driver::OpenNetworkLine(*target, error);
    }
    if (line) {
      HANDLE handle = driver::OpenDevice(std::move(line), dwDesiredAccess);
      ::SetLastError(ERROR_SUCCESS);
      return handle;
    }
    if (error) {
      ::SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
  }
  return ::CreateFileA(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                       dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
}

BOOL CloseHandle(HANDLE hObject) {
  if (!handles::IsEmulated(hObject)) return ::CloseHandle(hObject);
  auto device = VirtualDevice(hObject);
  return device ? driver::CloseDevice(hObject, *device) : FALSE;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  if (!handles::IsEmulated(hFile)) {
    return ::ReadFile(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
  }
  auto device = VirtualDevice(hFile);
  return device ? device->Read(lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped)
                : FALSE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  if (!handles::IsEmulated(hFile)) {
    return ::WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten,
                       lpOverlapped);
  }
  auto device = VirtualDevice(hFile);
  return device
             ? device->Write(lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped)
             : FALSE;
}

BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped,
                         LPDWORD lpNumberOfBytesTransferred, BOOL bWait) {
  if (!handles::IsEmulated(hFile)) {
    return ::GetOverlappedResult(hFile, lpOverlapped, lpNumberOfBytesTransferred, bWait);
  }
  auto device = VirtualDevice(hFile);
  return device ? device->GetOverlappedResult(lpOverlapped, lpNumberOfBytesTransferred, bWait)
                : FALSE;
}

BOOL SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue) {
  if (!handles::IsEmulated(hFile)) return ::SetupComm(hFile, dwInQueue, dwOutQueue);
  auto device = VirtualDevice(hFile);
  return device ? device->Setup(dwInQueue, dwOutQueue) : FALSE;
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB) {
  if (!handles::IsEmulated(hFile)) return ::SetCommState(hFile, lpDCB);
  auto device = VirtualDevice(hFile);
  return device ? device->SetState(lpDCB) : FALSE;
}

BOOL GetCommState(HANDLE hFile, LPDCB lpDCB) {
  if (!handles::IsEmulated(hFile)) return ::GetCommState(hFile, lpDCB);
  auto device = VirtualDevice(hFile);
  return device ? device->GetState(lpDCB) : FALSE;
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  if (!handles::IsEmulated(hFile)) return ::SetCommTimeouts(hFile, lpCommTimeouts);
  auto device = VirtualDevice(hFile);
  return device ? device->SetTimeouts(lpCommTimeouts) : FALSE;
}

BOOL GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  if (!handles::IsEmulated(hFile)) return ::GetCommTimeouts(hFile, lpCommTimeouts);
  auto device = VirtualDevice(hFile);
  return device ? device->GetTimeouts(lpCommTimeouts) : FALSE;
}

BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
  if (!handles::IsEmulated(hFile)) return ::SetCommMask(hFile, dwEvtMask);
  auto device = VirtualDevice(hFile);
  return device ? device->SetMask(dwEvtMask) : FALSE;
}

BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped) {
  if (!handles::IsEmulated(hFile)) return ::WaitCommEvent(hFile, lpEvtMask, lpOverlapped);
  auto device = VirtualDevice(hFile);
  return device ? device->WaitEvent(lpEvtMask, lpOverlapped) : FALSE;
}

BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  if (!handles::IsEmulated(hFile)) return ::ClearCommError(hFile, lpErrors, lpStat);
  auto device = VirtualDevice(hFile);
  return device ? device->ClearError(lpErrors, lpStat) : FALSE;
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags) {
  if (!handles::IsEmulated(hFile)) return ::PurgeComm(hFile, dwFlags);
  auto device = VirtualDevice(hFile);
  return device ? device->Purge(dwFlags) : FALSE;
}

BOOL GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
  if (!handles::IsEmulated(hFile)) return ::GetCommModemStatus(hFile, lpModemStat);
  auto device = VirtualDevice(hFile);
  return device ? device->GetModemStatus(lpModemStat) : FALSE;
}

DWORD GetLastError() {
  return ::GetLastError();
}

void SetLastError(DWORD dwErrCode) {
  ::SetLastError(dwErrCode);
}

void OutputDebugStringA(LPCSTR lpOutputString) {
  detail::SendToDebugSink(lpOutputString ? lpOutputString : "");
  ::OutputDebugStringA(lpOutputString);
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName) {
  return ::CreateEventA(lpEventAttributes, bManualReset, bInitialState, lpName);
}

BOOL SetEvent(HANDLE hEvent) {
  return ::SetEvent(hEvent);
}

BOOL ResetEvent(HANDLE hEvent) {
  return ::ResetEvent(hEvent);
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return ::WaitForSingleObject(hHandle, dwMilliseconds);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds) {
  return ::WaitForMultipleObjects(nCount, lpHandles, bWaitAll, dwMilliseconds);
}

void Sleep(DWORD dwMilliseconds) {
  ::Sleep(dwMilliseconds);
}

}  // namespace winapi
