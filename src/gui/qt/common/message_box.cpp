#include "common/message_box.h"

#include <QFontMetrics>
#include <QLabel>
#include <QStringList>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

namespace gui_qt {
namespace {

// The width of a message's lines, in average characters.
constexpr int kLineChars = 56;

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

QString WrapAtSpaces(const QString& text, const QFontMetrics& metrics, int width) {
  QStringList lines;
  for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
    QString line;
    bool first = true;
    for (const QString& word : paragraph.split(QLatin1Char(' '))) {
      if (first) {
        line = word;
        first = false;
        continue;
      }
      const QString longer = line + QLatin1Char(' ') + word;
      if (line.isEmpty() || metrics.horizontalAdvance(longer) <= width) {
        line = longer;
      } else {
        lines << line;
        line = word;
      }
    }
    lines << line;
  }
  return lines.join(QLatin1Char('\n'));
}

std::unique_ptr<QMessageBox> MakeMessageBox(QMessageBox::Icon icon, const std::string& caption,
                                            const std::string& text) {
  auto box = std::make_unique<CentredMessageBox>();
  box->setIcon(icon);
  box->setWindowTitle(QString::fromStdString(caption));
  // Error texts carry port names and system messages: never read them as markup.
  box->setTextFormat(Qt::PlainText);
  // The toolkit's own wrapping breaks after a "/" or "-", in the middle of a device path
  // or a command; these texts break at spaces only. Lines stay well inside the width at
  // which the box would wrap them again.
  const QFontMetrics metrics(box->font());
  box->setText(WrapAtSpaces(DialogText(text), metrics, metrics.averageCharWidth() * kLineChars));
  QPushButton* ok = box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box->setDefaultButton(ok);
  box->setEscapeButton(ok);
  box->setWindowModality(Qt::ApplicationModal);
  return box;
}

}  // namespace gui_qt
