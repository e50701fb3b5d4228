// TEMPORARY: the hidden window's handler gives every message the default handling
// until the event dispatch is in place.
#include "comport/port.h"
#include "runtime/message_window.h"

namespace comport {

void TCustomComPort::PortWindowProc(runtime::Message& Message) {
  Message.Result =
      runtime::DefWindowProcA(eventWindow_, Message.Msg, Message.WParam, Message.LParam);
}

}  // namespace comport
