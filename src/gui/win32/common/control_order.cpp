#include "common/control_order.h"

#include <algorithm>

namespace gui_win32 {
namespace {

enum class Layer { Overlay, Windowed, Graphic, None };

Layer LayerOf(const ui::Control& control) {
  switch (control.Kind()) {
    case ui::ControlKind::Panel:
      return Layer::Overlay;
    case ui::ControlKind::GroupBox:
    case ui::ControlKind::ComboBox:
    case ui::ControlKind::Button:
      return Layer::Windowed;
    case ui::ControlKind::Label:
    case ui::ControlKind::SpeedButton:
      return Layer::Graphic;
    case ui::ControlKind::Window:
    case ui::ControlKind::Timer:
      return Layer::None;
  }
  return Layer::None;
}

std::vector<ui::Control*> ChildrenOf(const ui::Control& parent, Layer layer) {
  std::vector<ui::Control*> children;
  for (ui::Control* child : parent.Children()) {
    if (LayerOf(*child) == layer) children.push_back(child);
  }
  return children;
}

void Append(ui::Control& parent, std::vector<ui::Control*>& order) {
  auto overlays = ChildrenOf(parent, Layer::Overlay);
  // Of two overlays the later one lies on top.
  std::reverse(overlays.begin(), overlays.end());
  auto windowed = ChildrenOf(parent, Layer::Windowed);
  // Controls without a tab position go after those with one.
  std::stable_sort(windowed.begin(), windowed.end(),
                   [](ui::Control* a, ui::Control* b) { return ui::TabOrderBefore(*a, *b); });
  for (auto* group : {&overlays, &windowed}) {
    for (ui::Control* child : *group) {
      Append(*child, order);
      order.push_back(child);
    }
  }
  for (ui::Control* child : ChildrenOf(parent, Layer::Graphic)) order.push_back(child);
}

}  // namespace

std::vector<ui::Control*> ZOrder(ui::Control& root) {
  std::vector<ui::Control*> order;
  Append(root, order);
  return order;
}

ui::Bounds BoundsInRoot(const ui::Control& control) {
  ui::Bounds bounds = control.GetBounds();
  for (const ui::Control* parent = control.Parent(); parent && parent->Parent();
       parent = parent->Parent()) {
    bounds.left += parent->GetBounds().left;
    bounds.top += parent->GetBounds().top;
  }
  return bounds;
}

}  // namespace gui_win32
