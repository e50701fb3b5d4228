// The window's controls as the designer placed them: the one table the model's layout and
// every back end's widgets are checked against.
#pragma once

#include "ui/controls.h"

namespace configurator::testing {

struct LayoutRow {
  const char* name;
  ui::ControlKind kind;
  const char* parent;
  ui::Bounds bounds;  // labels size themselves: position only
  int tabOrder;       // -1: no tab stop
  const char* caption;
};

inline constexpr const char* kFormName = "FormPZRQ480";
inline constexpr const char* kFormCaption = "PZ-RQ480 (XpressNet, S88 - PC interface)";
inline constexpr ui::Bounds kFormBounds{192, 109, 241, 436};

// Every control but the window itself, top to bottom.
inline constexpr LayoutRow kFormLayout[] = {
    {"Label1", ui::ControlKind::Label, kFormName, {8, 8, 0, 0}, -1, "Port num:"},
    {"Label8", ui::ControlKind::Label, kFormName, {160, 8, 0, 0}, -1, "Port baud:"},
    {"cbPort", ui::ControlKind::ComboBox, kFormName, {8, 24, 145, 21}, 0, ""},
    {"cbSearchBaud", ui::ControlKind::ComboBox, kFormName, {160, 24, 73, 21}, 8, ""},
    {"btnRead", ui::ControlKind::Button, kFormName, {8, 56, 105, 25}, 2, "Read settings"},
    {"Timer1", ui::ControlKind::Timer, kFormName, {}, -1, ""},
    {"GroupBox3",
     ui::ControlKind::GroupBox,
     kFormName,
     {8, 88, 225, 49},
     6,
     " Device informations "},
    {"Label7", ui::ControlKind::Label, "GroupBox3", {16, 24, 0, 0}, -1, "Version:"},
    {"lVer", ui::ControlKind::Label, "GroupBox3", {64, 24, 0, 0}, -1, "..."},
    {"GroupBox1", ui::ControlKind::GroupBox, kFormName, {8, 144, 225, 81}, 1, " Base settings "},
    {"Label2", ui::ControlKind::Label, "GroupBox1", {16, 27, 0, 0}, -1, "XpressNet address:"},
    {"cbXPAddr", ui::ControlKind::ComboBox, "GroupBox1", {120, 24, 81, 21}, 0, ""},
    {"Label3", ui::ControlKind::Label, "GroupBox1", {16, 51, 0, 0}, -1, "Baud rate:"},
    {"cbBaudRate", ui::ControlKind::ComboBox, "GroupBox1", {120, 48, 81, 21}, 1, ""},
    {"pWait", ui::ControlKind::Panel, kFormName, {24, 168, 185, 41}, 7, "Please wait..."},
    {"GroupBox2", ui::ControlKind::GroupBox, kFormName, {8, 232, 225, 89}, 3, " S88 settings "},
    {"Label4", ui::ControlKind::Label, "GroupBox2", {16, 27, 0, 0}, -1, "S88 start address:"},
    {"cbS88Addr", ui::ControlKind::ComboBox, "GroupBox2", {120, 24, 81, 21}, 0, ""},
    {"Label6", ui::ControlKind::Label, "GroupBox2", {16, 51, 0, 0}, -1, "S88 module num:"},
    {"Label5", ui::ControlKind::Label, kFormName, {24, 283, 0, 0}, -1, "Baud rate:"},
    {"cbS88Num", ui::ControlKind::ComboBox, kFormName, {128, 280, 81, 21}, 5, ""},
    {"GroupBox4", ui::ControlKind::GroupBox, kFormName, {8, 328, 225, 65}, 9, " Command station "},
    {"Label9", ui::ControlKind::Label, "GroupBox4", {16, 27, 0, 0}, -1, "Type:"},
    {"cbCommStat", ui::ControlKind::ComboBox, "GroupBox4", {56, 24, 145, 21}, 0, ""},
    {"btnWrite", ui::ControlKind::Button, kFormName, {8, 400, 105, 25}, 4, "Write settings"},
    {"SpeedButton1", ui::ControlKind::SpeedButton, kFormName, {200, 400, 25, 25}, -1, "?"},
};

}  // namespace configurator::testing
