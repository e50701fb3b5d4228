// One control model bound to its widget: mirrors the model into the widget after every
// change of the model, and (in the kinds the user can change) hands the user's changes
// back to the model through its setters.
#pragma once

#include "ui/controls.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

namespace gui_qt {

class QtApplication;

class ModelWidget {
 public:
  ModelWidget(ui::Control& model, QWidget& widget) : model_(model), widget_(widget) {}
  virtual ~ModelWidget() = default;
  ModelWidget(const ModelWidget&) = delete;
  ModelWidget& operator=(const ModelWidget&) = delete;

  ui::Control& Model() const { return model_; }
  QWidget& Widget() const { return widget_; }

  // Model to widget. The widget's own change signals are ignored meanwhile, so a
  // mirrored change never comes back to the model as a user edit.
  void Sync();

 protected:
  virtual void SyncOwn() = 0;
  // Widget to model: runs `change` (a model setter) unless a sync is under way. The
  // model's echo of the change is not mirrored back: the widget may be in the middle of
  // its own update (an editable list sets its text before its index).
  void FromUser(const std::function<void()>& change);
  // Context of the binding's signal connections: they end with the binding.
  QObject& Context() { return context_; }

 private:
  // Disabling the control that has the focus moves the focus on to the next control;
  // enabled again, it takes the focus back unless the focus has moved on since.
  void SyncEnabled();

  ui::Control& model_;
  QWidget& widget_;
  QObject context_;
  bool syncing_ = false;
  bool focusTaken_ = false;
  QPointer<QWidget> focusTakenBy_;  // where the focus went when this control was disabled
};

// Builds the widget of one child control model (of any kind but Window and Timer) inside
// `parent` and binds it. Returns null for a kind that has no widget.
std::unique_ptr<ModelWidget> MakeModelWidget(ui::Control& model, QWidget& parent,
                                             QtApplication& app);

}  // namespace gui_qt
