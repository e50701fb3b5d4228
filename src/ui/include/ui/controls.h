// Control models: the state of a window's controls, free of any toolkit. The window's
// logic works on these; a back end (headless, Qt, Win32) mirrors them into real widgets
// and hands the user's changes back through the same setters.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ui {

// Position and size in client pixels of the parent.
struct Bounds {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const Bounds&, const Bounds&) = default;
};

enum class ControlKind { Window, Label, ComboBox, Button, SpeedButton, GroupBox, Panel, Timer };

// Base of every model. A control registers with its parent on construction and leaves it
// on destruction, so the parent must outlive its children (members declared in order).
class Control {
 public:
  using Watcher = std::function<void(Control&)>;

  Control(ControlKind kind, std::string name, Control* parent, Bounds bounds,
          std::string caption = {}, int tabOrder = -1);
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  ControlKind Kind() const { return kind_; }
  const std::string& Name() const { return name_; }
  Control* Parent() const { return parent_; }
  // Children in creation order.
  const std::vector<Control*>& Children() const { return children_; }
  const Bounds& GetBounds() const { return bounds_; }
  // Position among its siblings in keyboard order; -1 when it is no tab stop.
  int TabOrder() const { return tabOrder_; }

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  bool Visible() const { return visible_; }
  void SetVisible(bool value);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);

  // Told after every change of this model's state; a back end mirrors the model there.
  // One watcher per control; an empty function removes it.
  void SetWatcher(Watcher watcher) { watcher_ = std::move(watcher); }

  // Depth-first walk over this control and all below it.
  void ForEach(const std::function<void(Control&)>& visit);

 protected:
  void Changed();

 private:
  ControlKind kind_;
  std::string name_;
  Control* parent_;
  std::vector<Control*> children_;
  Bounds bounds_;
  int tabOrder_;
  std::string caption_;
  bool visible_ = true;
  bool enabled_ = true;
  Watcher watcher_;
};

// Keyboard order of two siblings: by tab order, those without one (-1) after all others.
inline bool TabOrderBefore(const Control& a, const Control& b) {
  return static_cast<unsigned>(a.TabOrder()) < static_cast<unsigned>(b.TabOrder());
}

class Label : public Control {
 public:
  Label(std::string name, Control* parent, Bounds bounds, std::string caption)
      : Control(ControlKind::Label, std::move(name), parent, bounds, std::move(caption)) {}
};

class GroupBox : public Control {
 public:
  GroupBox(std::string name, Control* parent, Bounds bounds, std::string caption, int tabOrder)
      : Control(ControlKind::GroupBox, std::move(name), parent, bounds, std::move(caption),
                tabOrder) {}
};

class Panel : public Control {
 public:
  Panel(std::string name, Control* parent, Bounds bounds, std::string caption, int tabOrder)
      : Control(ControlKind::Panel, std::move(name), parent, bounds, std::move(caption), tabOrder) {
  }
};

// A push button; a speed button is one that never takes the keyboard focus.
class Button : public Control {
 public:
  Button(std::string name, Control* parent, Bounds bounds, std::string caption, int tabOrder,
         bool speedButton = false)
      : Control(speedButton ? ControlKind::SpeedButton : ControlKind::Button, std::move(name),
                parent, bounds, std::move(caption), tabOrder) {}
  bool TakesFocus() const { return Kind() == ControlKind::Button; }

  std::function<void()> OnClick;
  // What the toolkit does on a click: runs OnClick if the button is enabled.
  void Click();
};

enum class ComboStyle {
  DropDown,      // editable: the text may be typed
  DropDownList,  // fixed: the text is always the selected item's
};

class ComboBox : public Control {
 public:
  ComboBox(std::string name, Control* parent, Bounds bounds, ComboStyle style, int tabOrder)
      : Control(ControlKind::ComboBox, std::move(name), parent, bounds, {}, tabOrder),
        style_(style) {}

  bool Editable() const { return style_ == ComboStyle::DropDown; }

  const std::vector<std::string>& Items() const { return items_; }
  // What a back end may show about each item (a tooltip), one per item; "" for none.
  const std::vector<std::string>& ItemHints() const { return hints_; }
  // Clear empties the list, the selection and the text.
  void Clear();
  void Add(const std::string& item, const std::string& hint = {});

  // -1 when nothing is selected. An index the list does not have selects nothing.
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int index);
  // The selected item's text; for an editable list, whatever the user typed. Typing a
  // text clears the selection unless it is the selected item's text.
  const std::string& Text() const { return text_; }
  void SetText(const std::string& value);

 private:
  ComboStyle style_;
  std::vector<std::string> items_;
  std::vector<std::string> hints_;
  int itemIndex_ = -1;
  std::string text_;
};

// A window timer. Its back end calls Tick() every Interval() ms while it is enabled.
class Timer : public Control {
 public:
  Timer(std::string name, Control* parent, int intervalMs)
      : Control(ControlKind::Timer, std::move(name), parent, {}), interval_(intervalMs) {}

  int Interval() const { return interval_; }
  void SetInterval(int ms);
  // The general-purpose integer tag every control of the toolkit carries.
  std::intptr_t Tag = 0;

  // Whether the back end should run it: enabled, with an interval. Like the toolkit's
  // timer, one without an interval never ticks.
  bool CanTick() const { return Enabled() && Interval() > 0; }

  // A timer whose ticks would change nothing may sleep: it stays enabled but does not
  // tick, so an idle program is not woken. Waking it keeps the grid it ticked on: the
  // next tick comes at the next grid point, exactly when it would have come had the
  // timer never slept. Enabling it or changing its interval starts a fresh grid.
  bool Asleep() const { return asleep_; }
  void Sleep();
  void Wake();

  std::function<void()> OnTimer;
  void Tick() {
    if (Enabled() && OnTimer) OnTimer();
  }

 private:
  int interval_;
  bool asleep_ = false;
};

// The top-level window: caption, fixed client size, initial position, font.
class Window : public Control {
 public:
  Window(std::string name, std::string caption, Bounds client, std::string fontName, int fontHeight)
      : Control(ControlKind::Window, std::move(name), nullptr, client, std::move(caption)),
        fontName_(std::move(fontName)),
        fontHeight_(fontHeight) {}

  // Font as the toolkit stores it: a negative height is the character height in pixels.
  const std::string& FontName() const { return fontName_; }
  int FontHeight() const { return fontHeight_; }
  int FontPointSize() const { return (-fontHeight_ * 72 + 48) / 96; }

  // Asked before the window closes; false keeps it open.
  std::function<bool()> OnCloseQuery;

 private:
  std::string fontName_;
  int fontHeight_;
};

}  // namespace ui
