#include "common/message_box.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

namespace gui_qt {
namespace {

class CentredMessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    // Centred on the screen, not on whichever window happens to be active.
    if (const QScreen* display = screen()) {
      QRect frame = frameGeometry();
      frame.moveCenter(display->availableGeometry().center());
      move(frame.topLeft());
    }
  }
};

}  // namespace

QString DialogText(const std::string& text) {
  QString result = QString::fromStdString(text);
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return result;
}

std::unique_ptr<QMessageBox> MakeMessageBox(QMessageBox::Icon icon, const std::string& caption,
                                            const std::string& text) {
  auto box = std::make_unique<CentredMessageBox>();
  box->setIcon(icon);
  box->setWindowTitle(QString::fromStdString(caption));
  // Error texts carry port names and system messages: never read them as markup.
  box->setTextFormat(Qt::PlainText);
  box->setText(DialogText(text));
  if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
    label->setWordWrap(true);
  }
  QPushButton* ok = box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box->setDefaultButton(ok);
  box->setEscapeButton(ok);
  box->setWindowModality(Qt::ApplicationModal);
  return box;
}

}  // namespace gui_qt
