// The widget of each kind of control model, in one table.
#include "common/combo_widget.h"
#include "common/model_widget.h"
#include "gui_qt/qt_application.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include <functional>
#include <map>

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

class ButtonWidget : public ModelWidget {
 public:
  ButtonWidget(ui::Button& model, QAbstractButton& button, QtApplication& app)
      : ModelWidget(model, button), button_(button) {
    if (!model.TakesFocus()) button_.setFocusPolicy(Qt::NoFocus);
    QObject::connect(&button_, &QAbstractButton::clicked, &Context(),
                     [&model, &app] { app.RunHandler([&model] { model.Click(); }); });
  }

 protected:
  void SyncOwn() override { button_.setText(Text(Model())); }

 private:
  QAbstractButton& button_;
};

using Factory = std::function<std::unique_ptr<ModelWidget>(ui::Control&, QWidget&, QtApplication&)>;

const std::map<ui::ControlKind, Factory>& Factories() {
  static const std::map<ui::ControlKind, Factory> factories = {
      {ui::ControlKind::Label,
       [](ui::Control& model, QWidget& parent, QtApplication&) {
         return std::make_unique<LabelWidget>(model, *new QLabel(&parent));
       }},
      {ui::ControlKind::Panel,
       [](ui::Control& model, QWidget& parent, QtApplication&) {
         return std::make_unique<PanelWidget>(model, *new QLabel(&parent));
       }},
      {ui::ControlKind::GroupBox,
       [](ui::Control& model, QWidget& parent, QtApplication&) {
         return std::make_unique<GroupWidget>(model, *new QGroupBox(&parent));
       }},
      {ui::ControlKind::ComboBox,
       [](ui::Control& model, QWidget& parent, QtApplication&) {
         return std::make_unique<ComboWidget>(static_cast<ui::ComboBox&>(model),
                                              *new QComboBox(&parent));
       }},
      {ui::ControlKind::Button,
       [](ui::Control& model, QWidget& parent, QtApplication& app) {
         return std::make_unique<ButtonWidget>(static_cast<ui::Button&>(model),
                                               *new QPushButton(&parent), app);
       }},
      {ui::ControlKind::SpeedButton,
       [](ui::Control& model, QWidget& parent, QtApplication& app) {
         return std::make_unique<ButtonWidget>(static_cast<ui::Button&>(model),
                                               *new QToolButton(&parent), app);
       }},
  };
  return factories;
}

}  // namespace

std::unique_ptr<ModelWidget> MakeModelWidget(ui::Control& model, QWidget& parent,
                                             QtApplication& app) {
  const auto it = Factories().find(model.Kind());
  if (it == Factories().end()) return nullptr;
  return it->second(model, parent, app);
}

}  // namespace gui_qt
