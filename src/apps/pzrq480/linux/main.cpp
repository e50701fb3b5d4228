// The window program on Linux: the configurator's window on Qt 6. It takes no arguments
// besides --help and --version and keeps no files.
#include "configurator/form_pzrq480.h"
#include "configurator/port_watch.h"
#include "gui_qt/close_on_signals.h"
#include "gui_qt/qt_application.h"
#include "gui_qt/qt_window.h"
#include "runtime/main_thread.h"

#include <QApplication>
#include <QIcon>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>

namespace {

constexpr const char* kUsage =
    "Usage: pzrq480 [--help | --version]\n"
    "Opens the PZ-RQ480 configurator window: pick the serial port and the baud rate the\n"
    "device talks at, read its versions and settings, change them and write them back.\n"
    "Ports COM1..COM20 are found through the port map (see the README).\n";
constexpr const char* kVersion = "pzrq480 " PZ_VERSION "\n";

bool HaveDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
      std::cout << kUsage;
      return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
      std::cout << kVersion;
      return 0;
    }
    if (argc == 2) std::cerr << "pzrq480: unknown argument '" << argv[1] << "'\n";
    std::cerr << "pzrq480: takes no arguments besides --help or --version\n";
    return 2;
  }
  // Qt would abort without a display; say what is missing instead.
  if (!HaveDisplay()) {
    std::cerr << "pzrq480: no display: run it in a desktop session (DISPLAY is not set)\n";
    return 1;
  }
  try {
    runtime::SetMainThread();
    int qtArgc = 1;  // Qt's own options are not taken either
    QApplication qtApp(qtArgc, argv);
    // The icon the package installs in the hicolor theme.
    QApplication::setWindowIcon(QIcon::fromTheme("pzrq480"));
    gui_qt::QtApplication app;
    configurator::TFormPZRQ480 form(app);
    gui_qt::QtWindow window(form.Window(), app);
    // Ctrl-C or a stop from outside closes the window as the user would.
    gui_qt::CloseOnSignals closeOnSignals(window.Widget());
    // The widgets mirror their models from here on, so start-up fills the real lists.
    app.RunHandler([&] { form.FormCreate(); });
    // Adapters plugged in or out later, and port-map changes, update the port list.
    configurator::PortWatch portWatch([&form] { form.PortsChanged(); });
    window.Show();
    if (!app.Terminated()) qtApp.exec();
    // Leaving this scope destroys the form, which closes the port if it is open.
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "pzrq480: " << error.what() << '\n';
    return 1;
  }
}
