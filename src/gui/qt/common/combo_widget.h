// A drop-down list: QComboBox, editable for ComboStyle::DropDown.
#pragma once

#include "common/model_widget.h"

#include <QComboBox>

namespace gui_qt {

class ComboWidget : public ModelWidget {
 public:
  ComboWidget(ui::ComboBox& model, QComboBox& widget);

 protected:
  void SyncOwn() override;

 private:
  ui::ComboBox& combo_;
  QComboBox& box_;
};

}  // namespace gui_qt
