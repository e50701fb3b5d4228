// The top-level widget of a window model: asks the model before it closes.
#pragma once

#include "ui/controls.h"

#include <QWidget>

namespace gui_qt {

class QtApplication;

class TopLevelWidget : public QWidget {
 public:
  TopLevelWidget(ui::Window& model, QtApplication& app) : model_(model), app_(app) {}

 protected:
  // OnCloseQuery decides; an error it raises is shown and keeps the window open. An
  // accepted close ends the application's message loop.
  void closeEvent(QCloseEvent* event) override;

 private:
  ui::Window& model_;
  QtApplication& app_;
};

}  // namespace gui_qt
