// A Qt window built from a ui::Window model tree: one widget per control model, at the
// model's bounds inside its parent's widget, named after the model, kept in step with
// the model both ways. Clicks and close requests go through the application's handler
// rules.
#pragma once

#include "ui/controls.h"

#include <map>
#include <memory>
#include <string>

class QWidget;

namespace gui_qt {

class QtApplication;
class ModelWidget;

class QtWindow {
 public:
  // Builds the widgets (not shown yet). `model` and every control below it must outlive
  // this object.
  QtWindow(ui::Window& model, QtApplication& app);
  ~QtWindow();
  QtWindow(const QtWindow&) = delete;
  QtWindow& operator=(const QtWindow&) = delete;

  // The top-level widget.
  QWidget& Widget() const;
  // The widget of the control model named `name`; null when there is none.
  QWidget* Find(const std::string& name) const;

  void Show();

 private:
  std::unique_ptr<QWidget> window_;
  std::map<const ui::Control*, std::unique_ptr<ModelWidget>> bindings_;
};

}  // namespace gui_qt
