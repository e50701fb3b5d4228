#include "comport/settings.h"

#include "common/settings_copy.h"
#include "comport/errors.h"

namespace comport {

void TComSettings::CopyFrom(const TPersistent* source) {
  const auto* settings = dynamic_cast<const TComSettings*>(source);
  if (!settings) ThrowAssignError(source, *this);
  CopyFields(*settings);
}

void ThrowAssignError(const TObject* source, const TObject& target) {
  const std::string sourceName = source ? source->ClassName() : "nil";
  throw EConvertError("Cannot assign a " + sourceName + " to a " + target.ClassName());
}

}  // namespace comport
