#include "comport/component.h"

#include <algorithm>

namespace comport {

TComponent::TComponent(TComponent* AOwner) : owner_(AOwner) {
  if (owner_) owner_->owned_.push_back(this);
}

TComponent::~TComponent() {
  // Children are destroyed last-created first; each unregisters itself on the way out.
  while (!owned_.empty()) {
    TComponent* child = owned_.back();
    child->owner_ = nullptr;
    owned_.pop_back();
    delete child;
  }
  if (owner_) owner_->Remove(this);
}

void TComponent::Remove(TComponent* child) {
  owned_.erase(std::remove(owned_.begin(), owned_.end(), child), owned_.end());
}

}  // namespace comport
