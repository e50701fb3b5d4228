// Picks an item of a drop-down list the way a user does: opens the list and clicks it.
#pragma once

#include "modal_watch.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QTest>

namespace gui_qt_test {

inline bool PickItem(QComboBox& combo, int index) {
  combo.showPopup();
  QAbstractItemView* popup = combo.view();
  if (!SpinUntil([&] { return popup->isVisible(); })) return false;
  const QPoint centre = popup->visualRect(popup->model()->index(index, 0)).center();
  QTest::mouseClick(popup->viewport(), Qt::LeftButton, {}, centre);
  return SpinUntil([&] { return !popup->isVisible(); });
}

}  // namespace gui_qt_test
