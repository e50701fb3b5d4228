// Where each control of a model tree goes when every control becomes a direct child
// window of the dialog: its z-order (which is also the tab order IsDialogMessage walks)
// and its bounds in the dialog's client area.
#pragma once

#include "ui/controls.h"

#include <vector>

namespace gui_win32 {

// Every control below `root` (timers excluded), top of the z-order first:
// - panels first: they are opaque and lie over whatever they overlap;
// - then the other windowed controls by tab order (ties in creation order), each one
//   right after the controls inside it, so a group box lies under its contents and the
//   focusable controls follow the tab order of their containers;
// - labels and speed buttons last, under every windowed sibling, like controls drawn on
//   their parent's surface.
std::vector<ui::Control*> ZOrder(ui::Control& root);

// The control's bounds moved into the client area of the tree's root.
ui::Bounds BoundsInRoot(const ui::Control& control);

}  // namespace gui_win32
