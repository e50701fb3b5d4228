// The record of one overlapped read or write.
#pragma once

#include "comport/types.h"
#include "winapi/types.h"

#include <cstdint>
#include <memory>

namespace comport {

struct AsyncOp {
  OVERLAPPED IoRequest{};  // hEvent is the record's own manual-reset event
  TAsyncDirection Direction{};
  std::unique_ptr<std::uint8_t[]> SentCopy;  // private copy of the last write's bytes
  std::int32_t SentCopyLength = 0;
  // Why the event could not be created (0 when it exists); such a record never starts.
  DWORD EventError = 0;
  // A request was started on the record and not yet waited for: the driver will
  // still write its outcome into IoRequest and set the event.
  bool InFlight = false;
};

}  // namespace comport
