#include "winapi/winapi.h"

namespace winapi {
namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

}  // namespace

DWORD GetLastError() {
  return lastError;
}

void SetLastError(DWORD dwErrCode) {
  lastError = dwErrCode;
}

}  // namespace winapi
