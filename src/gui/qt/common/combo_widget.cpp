#include "common/combo_widget.h"

#include <QLineEdit>

namespace gui_qt {
namespace {

bool SameItems(const QComboBox& box, const std::vector<std::string>& items) {
  if (box.count() != static_cast<int>(items.size())) return false;
  for (int i = 0; i < box.count(); ++i) {
    if (box.itemText(i).toStdString() != items[static_cast<std::size_t>(i)]) return false;
  }
  return true;
}

}  // namespace

ComboWidget::ComboWidget(ui::ComboBox& model, QComboBox& widget)
    : ModelWidget(model, widget), combo_(model), box_(widget) {
  box_.setEditable(model.Editable());
  // The model keeps the list; the widget never adds typed texts to it.
  box_.setInsertPolicy(QComboBox::NoInsert);
  QObject::connect(&box_, &QComboBox::currentIndexChanged, &Context(),
                   [this](int index) { FromUser([&] { combo_.SetItemIndex(index); }); });
  // Picking the item the widget still counts as current (after typing over it) changes
  // no index, but it is a selection all the same.
  QObject::connect(&box_, &QComboBox::activated, &Context(),
                   [this](int index) { FromUser([&] { combo_.SetItemIndex(index); }); });
  if (model.Editable()) {
    QObject::connect(&box_, &QComboBox::editTextChanged, &Context(), [this](const QString& text) {
      FromUser([&] { combo_.SetText(text.toStdString()); });
    });
  }
}

void ComboWidget::SyncOwn() {
  if (!SameItems(box_, combo_.Items())) {
    box_.clear();
    for (const std::string& item : combo_.Items()) box_.addItem(QString::fromStdString(item));
  }
  const auto& hints = combo_.ItemHints();
  for (int i = 0; i < box_.count() && i < static_cast<int>(hints.size()); ++i) {
    const QString hint = QString::fromStdString(hints[static_cast<std::size_t>(i)]);
    if (box_.itemData(i, Qt::ToolTipRole).toString() != hint) {
      box_.setItemData(i, hint.isEmpty() ? QVariant() : QVariant(hint), Qt::ToolTipRole);
    }
  }
  // A fixed list selects its first item by itself when filled: the model decides.
  if (box_.currentIndex() != combo_.ItemIndex()) box_.setCurrentIndex(combo_.ItemIndex());
  if (box_.isEditable()) {
    const QString text = QString::fromStdString(combo_.Text());
    if (box_.currentText() != text) box_.setEditText(text);
  }
}

}  // namespace gui_qt
