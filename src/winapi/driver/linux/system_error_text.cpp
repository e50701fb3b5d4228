#include "winapi/system_error_text.h"

#include <utility>

namespace winapi {

namespace {

// Windows' own English messages for the errors the emulated calls report.
constexpr std::pair<DWORD, const char*> kMessages[] = {
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified"},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified"},
    {ERROR_ACCESS_DENIED, "Access is denied"},
    {ERROR_INVALID_HANDLE, "The handle is invalid"},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command"},
    {ERROR_INVALID_DATA, "The data is invalid"},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation"},
    {ERROR_BAD_COMMAND, "The device does not recognize the command"},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device"},
    {ERROR_READ_FAULT, "The system cannot read from the specified device"},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning"},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process"},
    {ERROR_LOCK_VIOLATION,
     "The process cannot access the file because another process has locked a portion of "
     "the file"},
    {ERROR_NOT_SUPPORTED, "The request is not supported"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect"},
    {ERROR_SEM_TIMEOUT, "The semaphore timeout period has expired"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small"},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect"},
    {ERROR_OPERATION_ABORTED,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request"},
    {ERROR_IO_INCOMPLETE, "Overlapped I/O event is not in a signaled state"},
    {ERROR_IO_PENDING, "Overlapped I/O operation is in progress"},
    {ERROR_COUNTER_TIMEOUT, "A serial I/O operation completed because the timeout period expired"},
    {ERROR_DEVICE_NOT_CONNECTED, "The device is not connected"},
    {ERROR_CONNECTION_REFUSED, "The remote computer refused the network connection"},
    {ERROR_NETWORK_UNREACHABLE, "The network location cannot be reached"},
    {ERROR_HOST_UNREACHABLE, "The network location cannot be reached"},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired"},
    {ERROR_DEVICE_REMOVED, "The device has been removed"},
    {WSAETIMEDOUT,
     "A connection attempt failed because the connected party did not properly respond after a "
     "period of time, or established connection failed because connected host has failed to "
     "respond"},
    {WSAHOST_NOT_FOUND, "No such host is known"},
};

}  // namespace

std::string SystemErrorText(DWORD error) {
  const std::string number = "system error " + std::to_string(error);
  for (const auto& [code, message] : kMessages) {
    if (code == error) return std::string(message) + " (" + number + ")";
  }
  return number;
}

}  // namespace winapi
