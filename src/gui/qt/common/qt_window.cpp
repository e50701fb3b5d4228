#include "gui_qt/qt_window.h"

#include "common/model_widget.h"
#include "common/tab_order.h"
#include "common/top_level_widget.h"
#include "common/window_look.h"
#include "gui_qt/qt_application.h"

#include <QApplication>

#include <vector>

namespace gui_qt {

class WindowBinding : public ModelWidget {
 public:
  using ModelWidget::ModelWidget;

 protected:
  void SyncOwn() override { Widget().setWindowTitle(QString::fromStdString(Model().Caption())); }
};

namespace {

using Bindings = std::map<const ui::Control*, std::unique_ptr<ModelWidget>>;

void Build(ui::Control& parent, QWidget& parentWidget, QtApplication& app, Bindings& bindings) {
  std::vector<QWidget*> labels;
  for (ui::Control* child : parent.Children()) {
    std::unique_ptr<ModelWidget> binding = MakeModelWidget(*child, parentWidget, app);
    if (!binding) continue;
    QWidget& widget = binding->Widget();
    widget.setObjectName(QString::fromStdString(child->Name()));
    const ui::Bounds& bounds = child->GetBounds();
    widget.move(bounds.left, bounds.top);
    if (bounds.width > 0 && bounds.height > 0) widget.resize(bounds.width, bounds.height);
    if (child->Kind() == ui::ControlKind::Label) labels.push_back(&widget);
    bindings.emplace(child, std::move(binding));
    Build(*child, widget, app, bindings);
  }
  // Labels are drawn on their parent, under every control that has a window of its own:
  // a label that lies under a group box stays covered by it.
  for (auto it = labels.rbegin(); it != labels.rend(); ++it) (*it)->lower();
}

}  // namespace

QtWindow::QtWindow(ui::Window& model, QtApplication& app)
    : window_(std::make_unique<TopLevelWidget>(model, app)) {
  window_->setObjectName(QString::fromStdString(model.Name()));
  ApplyWindowLook(model, *window_);
  // Message boxes have no window of their own to take the font from: they share this one's.
  QApplication::setFont(window_->font());
  bindings_.emplace(&model, std::make_unique<WindowBinding>(model, *window_));
  Build(model, *window_, app, bindings_);
  ApplyTabOrder(model, [this](const ui::Control& control) -> QWidget* {
    const auto it = bindings_.find(&control);
    return it == bindings_.end() ? nullptr : &it->second->Widget();
  });
  for (auto& [control, binding] : bindings_) {
    ModelWidget* bound = binding.get();
    bound->Model().SetWatcher([bound](ui::Control&) { bound->Sync(); });
    bound->Sync();
  }
}

QtWindow::~QtWindow() {
  // Models first, so that nothing reaches a widget being torn down; the bindings (and
  // with them their signal connections) go before the widgets.
  for (auto& [control, binding] : bindings_) binding->Model().SetWatcher({});
  bindings_.clear();
}

QWidget& QtWindow::Widget() const {
  return *window_;
}

QWidget* QtWindow::Find(const std::string& name) const {
  for (const auto& [control, binding] : bindings_) {
    if (control->Name() == name) return &binding->Widget();
  }
  return nullptr;
}

void QtWindow::Show() {
  window_->show();
}

}  // namespace gui_qt
