#include "common/top_level_widget.h"

#include "gui_qt/qt_application.h"

#include <QCloseEvent>

namespace gui_qt {

void TopLevelWidget::closeEvent(QCloseEvent* event) {
  bool allowed = false;
  app_.RunHandler([&] { allowed = !model_.OnCloseQuery || model_.OnCloseQuery(); });
  if (!allowed) {
    event->ignore();
    return;
  }
  event->accept();
  app_.Terminate();
}

}  // namespace gui_qt
