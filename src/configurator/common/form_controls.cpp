// The window's controls, laid out as the designer placed them, and the handler bindings.
#include "configurator/form_pzrq480.h"

#include "comport/text_conversion.h"

namespace configurator {

namespace {

// Labels size themselves to their caption: width and height 0.
constexpr ui::Bounds At(int left, int top) {
  return {left, top, 0, 0};
}

}  // namespace

using ui::ComboStyle;

TFormPZRQ480::TFormPZRQ480(ui::Application& app)
    : comport::TComponent(nullptr),
      FormFrame{app, ui::Window("FormPZRQ480", "PZ-RQ480 (XpressNet, S88 - PC interface)",
                                {192, 109, 241, 436}, "MS Sans Serif", -11)},
      Label1("Label1", &window_, At(8, 8), "Port num:"),
      Label8("Label8", &window_, At(160, 8), "Port baud:"),
      cbPort("cbPort", &window_, {8, 24, 145, 21}, ComboStyle::DropDown, 0),
      cbSearchBaud("cbSearchBaud", &window_, {160, 24, 73, 21}, ComboStyle::DropDownList, 8),
      btnRead("btnRead", &window_, {8, 56, 105, 25}, "Read settings", 2),
      Timer1("Timer1", &window_, 10),
      GroupBox3("GroupBox3", &window_, {8, 88, 225, 49}, " Device informations ", 6),
      Label7("Label7", &GroupBox3, At(16, 24), "Version:"),
      lVer("lVer", &GroupBox3, At(64, 24), "..."),
      GroupBox1("GroupBox1", &window_, {8, 144, 225, 81}, " Base settings ", 1),
      Label2("Label2", &GroupBox1, At(16, 27), "XpressNet address:"),
      cbXPAddr("cbXPAddr", &GroupBox1, {120, 24, 81, 21}, ComboStyle::DropDownList, 0),
      Label3("Label3", &GroupBox1, At(16, 51), "Baud rate:"),
      cbBaudRate("cbBaudRate", &GroupBox1, {120, 48, 81, 21}, ComboStyle::DropDownList, 1),
      pWait("pWait", &window_, {24, 168, 185, 41}, "Please wait...", 7),
      GroupBox2("GroupBox2", &window_, {8, 232, 225, 89}, " S88 settings ", 3),
      Label4("Label4", &GroupBox2, At(16, 27), "S88 start address:"),
      cbS88Addr("cbS88Addr", &GroupBox2, {120, 24, 81, 21}, ComboStyle::DropDownList, 0),
      Label6("Label6", &GroupBox2, At(16, 51), "S88 module num:"),
      Label5("Label5", &window_, At(24, 283), "Baud rate:"),
      cbS88Num("cbS88Num", &window_, {128, 280, 81, 21}, ComboStyle::DropDownList, 5),
      GroupBox4("GroupBox4", &window_, {8, 328, 225, 65}, " Command station ", 9),
      Label9("Label9", &GroupBox4, At(16, 27), "Type:"),
      cbCommStat("cbCommStat", &GroupBox4, {56, 24, 145, 21}, ComboStyle::DropDownList, 0),
      btnWrite("btnWrite", &window_, {8, 400, 105, 25}, "Write settings", 4),
      SpeedButton1("SpeedButton1", &window_, {200, 400, 25, 25}, "?", -1, true) {
  for (const comport::TBaudRate rate : kSearchRates) cbSearchBaud.Add(comport::BaudRateText(rate));
  cbSearchBaud.SetItemIndex(0);
  // The lists of named items are filled at design time; the number lists at start-up.
  for (const DeviceSetting& setting : DeviceSettings()) {
    if (setting.coding != ValueCoding::DecimalText) FillList(setting);
  }
  pWait.SetVisible(false);

  window_.OnCloseQuery = [this] { return FormCloseQuery(); };
  btnRead.OnClick = [this] { btnReadClick(); };
  btnWrite.OnClick = [this] { btnWriteClick(); };
  SpeedButton1.OnClick = [this] { SpeedButton1Click(); };
  Timer1.OnTimer = [this] { Timer1Timer(); };
  app_.AddTimer(Timer1);
  reprobeTimer_.SetEnabled(false);
  reprobeTimer_.OnTimer = [this] { ReprobeTimerTick(); };
  app_.AddTimer(reprobeTimer_);
}

TFormPZRQ480::~TFormPZRQ480() {
  app_.RemoveTimer(reprobeTimer_);
  app_.RemoveTimer(Timer1);
  try {
    FormDestroy();
  } catch (...) {
    // A port that fails to close is freed all the same; the base frees what is left.
  }
}

void TFormPZRQ480::FillList(const DeviceSetting& setting) {
  ui::ComboBox& list = this->*setting.list;
  list.Clear();
  for (const std::string& item : setting.Items()) list.Add(item);
  list.SetItemIndex(*setting.IndexForText(setting.initialItem));
}

}  // namespace configurator
