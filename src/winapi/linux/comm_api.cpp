// The Windows file and comm calls on Linux: every one goes to the driver model of the
// device behind the handle.
#include "common/device_open.h"
#include "common/virtual_lines.h"
#include "linux/terminal.h"
#include "winapi/winapi.h"

namespace winapi {
namespace {

BOOL InvalidHandle() {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
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
    if (name.find('/') != std::string::npos) {
      path = name;
    } else if (auto mapped = driver::ResolveComPortPath(name)) {
      path = *mapped;
    } else {
      return FailOpen(ERROR_FILE_NOT_FOUND);
    }
    line = driver::OpenTerminalLine(path, error);
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
  auto device = driver::FindDevice(hFile);
  if (!device) return InvalidHandle();
  return device->Read(lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  auto device = driver::FindDevice(hFile);
  if (!device) return InvalidHandle();
  return device->Write(lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
}

BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped,
                         LPDWORD lpNumberOfBytesTransferred, BOOL bWait) {
  auto device = driver::FindDevice(hFile);
  if (!device) return InvalidHandle();
  return device->GetOverlappedResult(lpOverlapped, lpNumberOfBytesTransferred, bWait);
}

BOOL SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue) {
  auto device = driver::FindDevice(hFile);
  return device ? device->Setup(dwInQueue, dwOutQueue) : InvalidHandle();
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB) {
  auto device = driver::FindDevice(hFile);
  return device ? device->SetState(lpDCB) : InvalidHandle();
}

BOOL GetCommState(HANDLE hFile, LPDCB lpDCB) {
  auto device = driver::FindDevice(hFile);
  return device ? device->GetState(lpDCB) : InvalidHandle();
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  auto device = driver::FindDevice(hFile);
  return device ? device->SetTimeouts(lpCommTimeouts) : InvalidHandle();
}

BOOL GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  auto device = driver::FindDevice(hFile);
  return device ? device->GetTimeouts(lpCommTimeouts) : InvalidHandle();
}

BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
  auto device = driver::FindDevice(hFile);
  return device ? device->SetMask(dwEvtMask) : InvalidHandle();
}

BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped) {
  auto device = driver::FindDevice(hFile);
  return device ? device->WaitEvent(lpEvtMask, lpOverlapped) : InvalidHandle();
}

BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  auto device = driver::FindDevice(hFile);
  return device ? device->ClearError(lpErrors, lpStat) : InvalidHandle();
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags) {
  auto device = driver::FindDevice(hFile);
  return device ? device->Purge(dwFlags) : InvalidHandle();
}

BOOL GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
  auto device = driver::FindDevice(hFile);
  return device ? device->GetModemStatus(lpModemStat) : InvalidHandle();
}

}  // namespace winapi
