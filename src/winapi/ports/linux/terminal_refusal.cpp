#include "ports/linux/terminal_refusal.h"

#include <utility>

namespace winapi {

namespace {

thread_local TerminalRefusal lastRefusal;

}  // namespace

const TerminalRefusal& LastTerminalRefusal() {
  return lastRefusal;
}

void RecordTerminalRefusal(TerminalRefusal refusal) {
  lastRefusal = std::move(refusal);
}

}  // namespace winapi
