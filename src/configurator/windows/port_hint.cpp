#include "configurator/port_hint.h"

namespace configurator {

std::string PortHint(const std::string& /*name*/) {
  return {};
}

}  // namespace configurator
