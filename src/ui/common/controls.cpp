#include "ui/controls.h"

#include <algorithm>
#include <utility>

namespace ui {

Control::Control(ControlKind kind, std::string name, Control* parent, Bounds bounds,
                 std::string caption, int tabOrder)
    : kind_(kind),
      name_(std::move(name)),
      parent_(parent),
      bounds_(bounds),
      tabOrder_(tabOrder),
      caption_(std::move(caption)) {
  if (parent_) parent_->children_.push_back(this);
}

Control::~Control() {
  if (parent_) std::erase(parent_->children_, this);
}

void Control::Changed() {
  if (watcher_) watcher_(*this);
}

void Control::SetCaption(const std::string& value) {
  if (caption_ == value) return;
  caption_ = value;
  Changed();
}

void Control::SetVisible(bool value) {
  if (visible_ == value) return;
  visible_ = value;
  Changed();
}

void Control::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  Changed();
}

void Control::ForEach(const std::function<void(Control&)>& visit) {
  visit(*this);
  for (Control* child : children_) child->ForEach(visit);
}

void Button::Click() {
  if (Enabled() && OnClick) OnClick();
}

void ComboBox::Clear() {
  items_.clear();
  hints_.clear();
  itemIndex_ = -1;
  text_.clear();
  Changed();
}

void ComboBox::Add(const std::string& item, const std::string& hint) {
  items_.push_back(item);
  hints_.push_back(hint);
  Changed();
}

void ComboBox::SetItemIndex(int index) {
  if (index < 0 || index >= static_cast<int>(items_.size())) index = -1;
  // Selecting nothing empties the text, typed or not, as the toolkit's lists do.
  const std::string text = index >= 0 ? items_[index] : std::string();
  if (index == itemIndex_ && text == text_) return;
  itemIndex_ = index;
  text_ = text;
  Changed();
}

void ComboBox::SetText(const std::string& value) {
  if (!Editable()) {
    // A fixed list shows only its items: the text selects the item of that text.
    const auto it = std::find(items_.begin(), items_.end(), value);
    SetItemIndex(it == items_.end() ? -1 : static_cast<int>(it - items_.begin()));
    return;
  }
  if (value == text_) return;
  text_ = value;
  if (itemIndex_ >= 0 && items_[itemIndex_] != value) itemIndex_ = -1;
  Changed();
}

void Timer::SetInterval(int ms) {
  if (interval_ == ms) return;
  interval_ = ms;
  Changed();
}

void Timer::Sleep() {
  if (asleep_) return;
  asleep_ = true;
  Changed();
}

void Timer::Wake() {
  if (!asleep_) return;
  asleep_ = false;
  Changed();
}

}  // namespace ui
