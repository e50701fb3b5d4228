// The two dialogs of the application services: the plain message dialog and the error
// display. Both are modal, centred on the screen, show the text as plain text wrapped at
// spaces and have one "OK" button that is the default and the escape button.
#pragma once

#include <QFontMetrics>
#include <QMessageBox>

#include <memory>
#include <string>

namespace gui_qt {

std::unique_ptr<QMessageBox> MakeMessageBox(QMessageBox::Icon icon, const std::string& caption,
                                            const std::string& text);

// `text` with line breaks put in place of spaces so that each line fits `width` pixels
// where it can; a word wider than that (a long path) stays whole on a line of its own.
QString WrapAtSpaces(const QString& text, const QFontMetrics& metrics, int width);

// Line ends as the dialogs are given them (CR LF) become the toolkit's ("\n").
QString DialogText(const std::string& text);

}  // namespace gui_qt
