#include "common/window_look.h"

#include <QFontDatabase>
#include <QPalette>

namespace gui_qt {
namespace {

// Faces close to the classic dialog font (Arial-like widths), tried in this order when
// the model's own face is missing.
const char* const kNearFaces[] = {"Microsoft Sans Serif", "Liberation Sans", "Arial"};

}  // namespace

QFont WindowFont(const ui::Window& model) {
  const QStringList installed = QFontDatabase::families();
  QFont font;
  QString family = QString::fromStdString(model.FontName());
  if (!installed.contains(family, Qt::CaseInsensitive)) {
    family.clear();
    for (const char* face : kNearFaces) {
      if (installed.contains(QString::fromLatin1(face), Qt::CaseInsensitive)) {
        family = QString::fromLatin1(face);
        break;
      }
    }
  }
  if (family.isEmpty()) {
    font.setFamily(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
  } else {
    font.setFamily(family);
  }
  font.setPointSize(model.FontPointSize());
  return font;
}

void ApplyWindowLook(const ui::Window& model, QWidget& window) {
  window.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                        Qt::MSWindowsFixedSizeDialogHint);
  const ui::Bounds& client = model.GetBounds();
  window.setFixedSize(client.width, client.height);
  window.move(client.left, client.top);
  window.setFont(WindowFont(model));
  QPalette palette = window.palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  window.setPalette(palette);
  window.setAutoFillBackground(true);
}

}  // namespace gui_qt
