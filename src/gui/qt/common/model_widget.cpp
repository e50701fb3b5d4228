#include "common/model_widget.h"

namespace gui_qt {

namespace {

struct FlagGuard {
  bool& flag;
  explicit FlagGuard(bool& f) : flag(f) { flag = true; }
  ~FlagGuard() { flag = false; }
};

}  // namespace

void ModelWidget::FromUser(const std::function<void()>& change) {
  if (syncing_) return;
  FlagGuard guard(syncing_);
  change();
}

void ModelWidget::Sync() {
  if (syncing_) return;
  FlagGuard guard(syncing_);
  // A top-level window is shown by its owner, not by its model.
  if (model_.Parent()) widget_.setVisible(model_.Visible());
  SyncEnabled();
  SyncOwn();
}

void ModelWidget::SyncEnabled() {
  // The window's focus widget, not the application's: the window need not be active.
  QWidget* window = widget_.window();
  const auto holdsFocus = [this](const QWidget* focus) {
    return focus && (focus == &widget_ || widget_.isAncestorOf(focus));
  };
  if (!model_.Enabled()) {
    const bool hadFocus = holdsFocus(window->focusWidget());
    widget_.setEnabled(false);
    if (hadFocus) {
      focusTaken_ = true;
      focusTakenBy_ = window->focusWidget();
    }
    return;
  }
  widget_.setEnabled(true);
  if (!focusTaken_) return;
  focusTaken_ = false;
  if (window->focusWidget() == focusTakenBy_) widget_.setFocus(Qt::OtherFocusReason);
}

}  // namespace gui_qt
