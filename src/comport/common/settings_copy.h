// Shared by the settings objects' copy operations.
#pragma once

#include "comport/component.h"

namespace comport {

// The framework's refusal to copy: "Cannot assign a <source> to a <target>", with
// "nil" standing for no source.
[[noreturn]] void ThrowAssignError(const TObject* source, const TObject& target);

// The source as the target's own class, or the assignment error.
template <typename Target>
const Target& SameClassSource(const TObject& source, const Target& target) {
  const auto* typed = dynamic_cast<const Target*>(&source);
  if (!typed) ThrowAssignError(&source, target);
  return *typed;
}

}  // namespace comport
