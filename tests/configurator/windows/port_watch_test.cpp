// The port watch on Windows: the system's port arrival and removal broadcasts reach it.
#include "configurator/port_watch.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <dbt.h>

namespace configurator::testing {
namespace {

HWND WatchWindow() {
  return FindWindowExA(nullptr, nullptr, "PzPortWatch", nullptr);
}

LRESULT Broadcast(HWND window, WPARAM event, DWORD deviceType) {
  DEV_BROADCAST_PORT_A port{};
  port.dbcp_size = sizeof port;
  port.dbcp_devicetype = deviceType;
  lstrcpyA(port.dbcp_name, "COM9");
  return SendMessageA(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&port));
}

// Wine without a display creates no window at all; Windows always can.
bool WindowsCanBeCreated() {
  HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  if (!probe) return false;
  DestroyWindow(probe);
  return true;
}

TEST(PortWatchWindows, PortArrivalsAndRemovalsAreTold) {
  if (!WindowsCanBeCreated()) GTEST_SKIP() << "no desktop to create windows on";
  int told = 0;
  {
    PortWatch watch([&] { ++told; });
    const HWND window = WatchWindow();
    ASSERT_NE(window, nullptr);
    // Top-level, so that broadcasts reach it, and never shown.
    EXPECT_EQ(GetParent(window), nullptr);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(Broadcast(window, DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT), TRUE);
    EXPECT_EQ(told, 1);
    Broadcast(window, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT);
    EXPECT_EQ(told, 2);
    // Other devices and other events are no port change.
    Broadcast(window, DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME);
    Broadcast(window, DBT_DEVICEQUERYREMOVE, DBT_DEVTYP_PORT);
    EXPECT_EQ(told, 2);
  }
  EXPECT_EQ(WatchWindow(), nullptr);
}

}  // namespace
}  // namespace configurator::testing
