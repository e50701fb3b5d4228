// OVERLAPPED.Internal holds a status as the system keeps it: STATUS_PENDING while a request
// runs, a success code (STATUS_SUCCESS, or STATUS_TIMEOUT after a time-out with fewer
// bytes) or an error code when it ends.
#pragma once

#include "winapi/types.h"

namespace winapi::driver {

inline constexpr DWORD kStatusSuccess = 0x00000000;
inline constexpr DWORD kStatusTimeout = 0x00000102;
inline constexpr DWORD kStatusPending = 0x00000103;
inline constexpr DWORD kStatusCancelled = 0xC0000120;
inline constexpr DWORD kStatusDeviceNotConnected = 0xC000009D;
// Other Windows errors (such as those a virtual line is told to fail with) travel as
// customer-defined error statuses that carry the error number in the low word.
inline constexpr DWORD kStatusCarriedError = 0xE0000000;

constexpr DWORD ToStatus(DWORD windowsError) {
  switch (windowsError) {
    case ERROR_SUCCESS:
      return kStatusSuccess;
    case ERROR_OPERATION_ABORTED:
      return kStatusCancelled;
    case ERROR_DEVICE_NOT_CONNECTED:
      return kStatusDeviceNotConnected;
    default:
      return kStatusCarriedError | (windowsError & 0xFFFF);
  }
}

// The Windows error of a finished request's status; 0 for the success codes.
constexpr DWORD ErrorOf(DWORD status) {
  switch (status) {
    case kStatusSuccess:
    case kStatusTimeout:
      return ERROR_SUCCESS;
    case kStatusCancelled:
      return ERROR_OPERATION_ABORTED;
    case kStatusDeviceNotConnected:
      return ERROR_DEVICE_NOT_CONNECTED;
    default:
      return (status & 0xFFFF0000) == kStatusCarriedError ? (status & 0xFFFF) : ERROR_GEN_FAILURE;
  }
}

}  // namespace winapi::driver
