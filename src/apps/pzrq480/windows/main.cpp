// The window program on Windows: the configurator's window on the system's own controls.
#include "configurator/form_pzrq480.h"
#include "configurator/port_watch.h"
#include "gui_win32/win32_application.h"
#include "gui_win32/win32_window.h"
#include "runtime/main_thread.h"

#include <windows.h>

#include <exception>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  try {
    runtime::SetMainThread();
    gui_win32::Win32Application app;
    configurator::TFormPZRQ480 form(app);
    gui_win32::Win32Window window(form.Window(), app);
    // The controls mirror their models from here on, so start-up fills the real lists.
    app.RunHandler([&] { form.FormCreate(); });
    // Adapters plugged in or out later update the port list.
    configurator::PortWatch portWatch([&form] { form.PortsChanged(); });
    window.Show();
    return app.Run();
  } catch (const std::exception& error) {
    MessageBoxA(nullptr, error.what(), "PZ-RQ480", MB_OK | MB_ICONSTOP);
    return 1;
  }
}
