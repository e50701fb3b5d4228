#include "comport/com_thread.h"
#include "comport/port.h"
#include "runtime/error_display.h"
#include "runtime/message_window.h"
#include "winapi/winapi.h"

#include <exception>

namespace comport {

// Window delivery: one message per line event. The sender is released before the
// handling runs, and an error of one event is shown without stopping later ones.
void TCustomComPort::PortWindowProc(runtime::Message& Message) {
  if (Message.Msg != PortEventMessage) {
    Message.Result =
        runtime::DefWindowProcA(eventWindow_, Message.Msg, Message.WParam, Message.LParam);
    return;
  }
  try {
    if (runtime::InSendMessage()) runtime::ReplyMessage(0);
    if (connected_) {
      switch (Message.WParam) {
        case EV_RXCHAR:
          HandleRxChar();
          break;
        case EV_RXFLAG:
          HandleRxFlag();
          break;
        case EV_TXEMPTY:
          HandleTxEmpty();
          break;
        case EV_CTS:
          HandleCTSChange();
          break;
        case EV_DSR:
          HandleDSRChange();
          break;
        case EV_RLSD:
          HandleRLSDChange();
          break;
        case EV_BREAK:
          HandleBreak();
          break;
        case EV_ERR:
          HandleError();
          break;
        case EV_RING:
          HandleRing();
          break;
        case EV_RX80FULL:
          HandleRx80Full();
          break;
        default:
          break;
      }
    }
  } catch (...) {
    runtime::HandleException(std::current_exception(), this);
  }
  Message.Result = 0;
}

}  // namespace comport
