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
  widget_.setEnabled(model_.Enabled());
  SyncOwn();
}

}  // namespace gui_qt
