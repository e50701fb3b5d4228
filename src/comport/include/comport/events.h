// Event types of the port and the observer record other objects can hand it.
#pragma once

#include "comport/component.h"
#include "comport/types.h"

#include <cstdint>
#include <functional>

namespace comport {

using TNotifyEvent = std::function<void(TObject* Sender)>;
using TRxCharEvent = std::function<void(TObject* Sender, std::int32_t Count)>;
using TRxBufEvent =
    std::function<void(TObject* Sender, const std::uint8_t* Buffer, std::int32_t Count)>;
using TComErrorEvent = std::function<void(TObject* Sender, TComErrors Errors)>;
using TComSignalEvent = std::function<void(TObject* Sender, bool OnOff)>;

// Optional callbacks told about opening, closing and line activity. The port keeps
// a reference; the record belongs to whoever registered it.
struct PortObserver {
  std::function<void(TObject* Sender, bool OnOff)> ConnectionChanged;
  std::function<void(TObject* Sender, const std::uint8_t* Buffer, std::int32_t Count)>
      BytesReceived;
  std::function<void(TObject* Sender, const std::uint8_t* Buffer, std::int32_t Count)> BytesSent;
  std::function<void(TObject* Sender)> TxEmptied;
  std::function<void(TObject* Sender)> RxFlagSeen;
  std::function<void(TObject* Sender, bool OnOff)> CtsChanged;
  std::function<void(TObject* Sender, bool OnOff)> DsrChanged;
  std::function<void(TObject* Sender, bool OnOff)> RlsdChanged;
  std::function<void(TObject* Sender)> RingSeen;
  std::function<void(TObject* Sender, bool OnOff)> TxActivity;
  std::function<void(TObject* Sender, bool OnOff)> RxActivity;
};

}  // namespace comport
