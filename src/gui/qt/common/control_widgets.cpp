// The widget of each kind of control model.
#include "common/combo_widget.h"
#include "common/model_widget.h"
#include "gui_qt/qt_application.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include <memory>

namespace gui_qt {
namespace {

QString Text(const ui::Control& model) {
  return QString::fromStdString(model.Caption());
}

// A label sized by the model keeps that size; one without a size fits its text.
class LabelWidget : public ModelWidget {
 public:
  LabelWidget(ui::Control& model, QLabel& label) : ModelWidget(model, label), label_(label) {
    label_.setTextFormat(Qt::PlainText);
  }

 protected:
  void SyncOwn() override {
    label_.setText(Text(Model()));
    const ui::Bounds& bounds = Model().GetBounds();
    if (bounds.width <= 0 || bounds.height <= 0) label_.adjustSize();
  }

 private:
  QLabel& label_;
};

// A panel: raised bevel, opaque, caption centred.
class PanelWidget : public ModelWidget {
 public:
  PanelWidget(ui::Control& model, QLabel& panel) : ModelWidget(model, panel), panel_(panel) {
    panel_.setTextFormat(Qt::PlainText);
    panel_.setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel_.setLineWidth(1);
    panel_.setAlignment(Qt::AlignCenter);
    panel_.setAutoFillBackground(true);
  }

 protected:
  void SyncOwn() override { panel_.setText(Text(Model())); }

 private:
  QLabel& panel_;
};

class GroupWidget : public ModelWidget {
 public:
  GroupWidget(ui::Control& model, QGroupBox& group) : ModelWidget(model, group), group_(group) {
    // Opaque, so that what lies under the box (a covered label) stays covered.
    group_.setAutoFillBackground(true);
  }

 protected:
  void SyncOwn() override { group_.setTitle(Text(Model())); }

 private:
  QGroupBox& group_;
};

// Enter presses the focused button as Space does: a window of buttons without a dialog's
// default button would otherwise ignore it (on Windows both keys press a button).
class EnterPressesButton : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
    if (key->isAutoRepeat() || (key->modifiers() & ~Qt::KeypadModifier)) return false;
    auto* button = static_cast<QAbstractButton*>(watched);
    if (button->isEnabled()) button->click();
    return true;
  }
};

class ButtonWidget : public ModelWidget {
 public:
  ButtonWidget(ui::Button& model, QAbstractButton& button, QtApplication& app)
      : ModelWidget(model, button), button_(button) {
    if (!model.TakesFocus()) button_.setFocusPolicy(Qt::NoFocus);
    button_.installEventFilter(&enter_);
    QObject::connect(&button_, &QAbstractButton::clicked, &Context(),
                     [&model, &app] { app.RunHandler([&model] { model.Click(); }); });
  }

 protected:
  void SyncOwn() override { button_.setText(Text(Model())); }

 private:
  QAbstractButton& button_;
  EnterPressesButton enter_;
};

}  // namespace

std::unique_ptr<ModelWidget> MakeModelWidget(ui::Control& model, QWidget& parent,
                                             QtApplication& app) {
  switch (model.Kind()) {
    case ui::ControlKind::Label:
      return std::make_unique<LabelWidget>(model, *new QLabel(&parent));
    case ui::ControlKind::Panel:
      return std::make_unique<PanelWidget>(model, *new QLabel(&parent));
    case ui::ControlKind::GroupBox:
      return std::make_unique<GroupWidget>(model, *new QGroupBox(&parent));
    case ui::ControlKind::ComboBox:
      return std::make_unique<ComboWidget>(static_cast<ui::ComboBox&>(model),
                                           *new QComboBox(&parent));
    case ui::ControlKind::Button:
      return std::make_unique<ButtonWidget>(static_cast<ui::Button&>(model),
                                            *new QPushButton(&parent), app);
    case ui::ControlKind::SpeedButton:
      return std::make_unique<ButtonWidget>(static_cast<ui::Button&>(model),
                                            *new QToolButton(&parent), app);
    case ui::ControlKind::Window:
    case ui::ControlKind::Timer:
      break;
  }
  return nullptr;
}

}  // namespace gui_qt
