#include "comport/port.h"
#include "comport/registry_store.h"
#include "comport/settings_files.h"
#include "winapi/winapi.h"

#include "../winapi/registry_sandbox.h"
#include "persistence_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace comport {
namespace {

using PersistenceRegistry = winapi::testing::RegistrySandbox;

// A key below the test's own, created if missing.
struct OpenKey {
  OpenKey(HKEY sandbox, const char* path) {
    EXPECT_EQ(winapi::RegCreateKeyExA(sandbox, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                      &handle, nullptr),
              ERROR_SUCCESS);
  }
  ~OpenKey() { winapi::RegCloseKey(handle); }
  HKEY handle = nullptr;
};

void ExpectMessage(const std::function<void()>& action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no error, expected " << message;
  } catch (const ERegistryException& error) {
    EXPECT_EQ(error.Message(), message);
  }
}

TEST_F(PersistenceRegistry, StoreWritesTextWithTerminatorAndIntegersAsDwords) {
  OpenKey key(Sandbox(), "Software\\Store");
  TRegistryStore store(key.handle);
  store.PutText("Port", "COM2");
  store.PutInteger("Size", -2);
  BYTE data[16];
  DWORD size = sizeof data, type = 0;
  ASSERT_EQ(winapi::RegQueryValueExA(key.handle, "Port", nullptr, &type, data, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("COM2\0", 5));
  size = sizeof data;
  ASSERT_EQ(winapi::RegQueryValueExA(key.handle, "Size", nullptr, &type, data, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(store.GetInteger("size"), -2);
  EXPECT_EQ(store.GetText("PORT"), "COM2");
}

TEST_F(PersistenceRegistry, StoreReadRulesAndMessages) {
  OpenKey key(Sandbox(), "Software\\Rules");
  TRegistryStore store(key.handle);
  const std::string embedded("ab\0cd", 6);
  winapi::RegSetValueExA(key.handle, "Embedded", 0, REG_EXPAND_SZ,
                         reinterpret_cast<const BYTE*>(embedded.data()), 6);
  winapi::RegSetValueExA(key.handle, "Empty", 0, REG_BINARY, nullptr, 0);
  const BYTE eight[8] = {1};
  winapi::RegSetValueExA(key.handle, "Long", 0, REG_DWORD, eight, 8);
  winapi::RegSetValueExA(key.handle, "Short", 0, REG_BINARY, eight, 4);
  store.PutInteger("Number", 5);

  EXPECT_EQ(store.GetText("Embedded"), "ab");
  EXPECT_EQ(store.GetText("Absent"), "");
  EXPECT_EQ(store.GetText("Empty"), "");  // size 0: empty whatever its type
  ExpectMessage([&] { store.GetText("Number"); }, "Invalid data type for 'Number'");
  ExpectMessage([&] { store.GetInteger("Absent"); }, "Failed to get data for 'Absent'");
  ExpectMessage([&] { store.GetInteger("Long"); }, "Failed to get data for 'Long'");
  ExpectMessage([&] { store.GetInteger("Short"); }, "Invalid data type for 'Short'");

  HKEY readOnly = nullptr;
  ASSERT_EQ(winapi::RegOpenKeyExA(HKEY_CURRENT_USER, SandboxPath("Software\\Rules").c_str(), 0,
                                  KEY_READ, &readOnly),
            ERROR_SUCCESS);
  TRegistryStore refusing(readOnly);
  ExpectMessage([&] { refusing.PutText("Port", "x"); }, "Failed to set data for 'Port'");
  ExpectMessage([&] { refusing.PutInteger("Number", 1); }, "Failed to set data for 'Number'");
  winapi::RegCloseKey(readOnly);
}

TEST_F(PersistenceRegistry, EverySettingSurvivesARoundTrip) {
  TComPort saved(nullptr);
  saved.SetStoredGroups(kAllGroups);
  saved.SetPort("COM12");
  saved.SetBaudRate(brCustom);
  saved.SetCustomBaudRate(31250);
  saved.SetStopBits(sbOne5StopBits);
  saved.Parity().SetBits(prSpace);
  saved.SetEventChar('~');
  saved.Parity().SetReplaceChar(static_cast<char>(200));
  saved.Buffer().SetInputSize(4000);
  saved.Timeouts().SetReadInterval(-5);
  saved.FlowControl().SetFlowControl(fcHardware);
  saved.FlowControl().SetXonChar('\x01');
  SaveSettingsToRegistry(saved, HKEY_CURRENT_USER, SandboxPath("Software\\Test\\Saved"));

  TComPort loaded(nullptr);
  loaded.SetStoredGroups(kAllGroups);
  LoadSettingsFromRegistry(loaded, HKEY_CURRENT_USER, SandboxPath("Software\\Test\\Saved"));
  EXPECT_EQ(loaded.Port(), "COM12");
  EXPECT_EQ(loaded.BaudRate(), brCustom);
  EXPECT_EQ(loaded.CustomBaudRate(), 31250);
  EXPECT_EQ(loaded.StopBits(), sbOne5StopBits);
  EXPECT_EQ(loaded.Parity().Bits(), prSpace);
  EXPECT_EQ(loaded.EventChar(), '~');
  EXPECT_EQ(static_cast<unsigned char>(loaded.Parity().ReplaceChar()), 200);
  EXPECT_EQ(loaded.Buffer().InputSize(), 4000);
  EXPECT_EQ(loaded.Timeouts().ReadInterval(), -5);
  EXPECT_EQ(loaded.FlowControl().FlowControl(), fcHardware);
  EXPECT_EQ(loaded.FlowControl().XonChar(), '\x01');
}

TEST_F(PersistenceRegistry, ReadStopsAtAnAbsentIntegerLeavingEarlierGroupsAssigned) {
  {
    OpenKey key(Sandbox(), "Software\\Partial");
    TRegistryStore store(key.handle);
    store.PutText("Port", "COM3");
    store.PutText("BaudRate", "19200 ");
    store.PutText("EventChar", "#13");
    store.PutText("Parity.Check", "yes");
    store.PutInteger("Buffer.InputSize", 64);  // but no Buffer.OutputSize
    store.PutInteger("Timeouts.ReadInterval", 5);
    store.PutText("FlowControl.XonXoffIn", "Yes");
  }
  TComPort port(nullptr);
  port.SetBaudRate(br110);
  port.SetStoredGroups(kAllGroups);
  try {
    LoadSettingsFromRegistry(port, HKEY_CURRENT_USER, SandboxPath("Software\\Partial"));
    FAIL() << "an absent integer key did not stop the read";
  } catch (const ERegistryException& error) {
    EXPECT_EQ(error.Message(), "Failed to get data for 'Buffer.OutputSize'");
  }
  EXPECT_EQ(port.Port(), "COM3");
  EXPECT_EQ(port.BaudRate(), br9600);   // the fallback of an unmatched text
  EXPECT_EQ(port.DataBits(), dbEight);  // absent text: fallback
  EXPECT_EQ(port.EventChar(), '\r');
  EXPECT_TRUE(port.Parity().Check());
  EXPECT_EQ(port.Buffer().InputSize(), 1024);     // not reached
  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);  // not reached
  EXPECT_FALSE(port.FlowControl().XonXoffIn());   // not reached
}

TEST_F(PersistenceRegistry, ReadStopsAtAWrongType) {
  {
    OpenKey key(Sandbox(), "Software\\Typed");
    TRegistryStore store(key.handle);
    store.PutText("Port", "COM4");
    store.PutText("EventChar", "A");
    store.PutInteger("DiscardNull", 1);
    store.PutText("Parity.Check", "Yes");
  }
  TComPort port(nullptr);
  port.SetStoredGroups(TSettingGroups{sgConnection, sgOther, sgParity});
  EXPECT_THROW(
      {
        try {
          LoadSettingsFromRegistry(port, HKEY_CURRENT_USER, SandboxPath("Software\\Typed"));
        } catch (const ERegistryException& error) {
          EXPECT_EQ(error.Message(), "Invalid data type for 'DiscardNull'");
          throw;
        }
      },
      ERegistryException);
  EXPECT_EQ(port.Port(), "COM4");
  EXPECT_EQ(port.EventChar(), 'A');
  EXPECT_FALSE(port.Parity().Check());
}

TEST_F(PersistenceRegistry, AbsentTextsReadAsEmptyAndTheCustomRateIsRequired) {
  { OpenKey key(Sandbox(), "Software\\Bare"); }
  TComPort port(nullptr);
  port.SetDataBits(dbFive);
  LoadSettingsFromRegistry(port, HKEY_CURRENT_USER, SandboxPath("Software\\Bare"));
  EXPECT_EQ(port.Port(), "");
  EXPECT_EQ(port.DataBits(), dbEight);

  {
    OpenKey key(Sandbox(), "Software\\Custom");
    TRegistryStore(key.handle).PutText("BaudRate", "Custom");
  }
  try {
    LoadSettingsFromRegistry(port, HKEY_CURRENT_USER, SandboxPath("Software\\Custom"));
    FAIL() << "an absent custom rate did not stop the read";
  } catch (const ERegistryException& error) {
    EXPECT_EQ(error.Message(), "Failed to get data for 'CustomBaudRate'");
  }
  EXPECT_EQ(port.BaudRate(), brCustom);
}

TEST_F(PersistenceRegistry, StoreFailuresBecomeComponentErrors) {
  TComPort port(nullptr);
  try {
    LoadSettingsFromRegistry(port, HKEY_CURRENT_USER, SandboxPath("Software\\Nothing\\Here"));
    FAIL() << "loading from a missing key succeeded";
  } catch (const EComPort& error) {
    EXPECT_EQ(error.ErrorCode(), 17);
    EXPECT_EQ(error.Message(), "COM1 Error: Failed to load settings");
  }
  try {
    SaveSettingsToRegistry(port, HKEY_CURRENT_USER, "\\Bad\\Path");
    FAIL() << "saving under a bad path succeeded";
  } catch (const EComPortExt& error) {
    EXPECT_EQ(error.ErrorCode(), 23);
    EXPECT_EQ(error.OsErrorCode(), 161u);
    EXPECT_EQ(error.Message(), "COM Port Error: Registry error on COM1");
  }
}

}  // namespace
}  // namespace comport
