// Ports above COM20 that Windows lists under SERIALCOMM (a fifth USB adapter's) are in
// the window's port list.
#include "configurator/form_test_support.h"

#include "winapi/port_description.h"
#include "winapi/port_pinning.h"

#include <windows.h>

namespace configurator::testing {
namespace {

// A SERIALCOMM entry for the test's time, as a driver makes one for its port.
class SerialCommEntry {
 public:
  explicit SerialCommEntry(const char* port) {
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                        REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key_,
                        nullptr) != ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    made_ = RegSetValueExA(key_, kDevice, 0, REG_SZ, reinterpret_cast<const BYTE*>(port),
                           static_cast<DWORD>(lstrlenA(port) + 1)) == ERROR_SUCCESS;
  }
  ~SerialCommEntry() {
    if (made_) RegDeleteValueA(key_, kDevice);
    if (key_) RegCloseKey(key_);
  }
  bool Made() const { return made_; }

 private:
  static constexpr char kDevice[] = "\\Device\\PzTestSerial27";
  HKEY key_ = nullptr;
  bool made_ = false;
};

class FurtherPorts : public FormTest {};

TEST_F(FurtherPorts, APortAboveCom20ThatWindowsListsIsInThePortList) {
  auto com27 = winapi::VirtualLine::Create("COM27");
  const SerialCommEntry entry("COM27");
  if (!entry.Made()) GTEST_SKIP() << "SERIALCOMM cannot be written without administrator rights";
  const auto further = winapi::FurtherComPortNumbers();
  EXPECT_NE(std::find(further.begin(), further.end(), 27u), further.end());
  Create();
  const auto& items = form->cbPort.Items();
  EXPECT_NE(std::find(items.begin(), items.end(), "COM27"), items.end());
  EXPECT_EQ(items.back(), "COM27");
}

TEST_F(FurtherPorts, ANetworkPortGivenAComNameIsListedWithoutConnecting) {
  // Nothing listens there: a probe would fail, a listing without one does not.
  winapi::MapComPort("COM28", "tcp://127.0.0.1:1");
  Create();
  winapi::UnmapComPort("COM28");
  const auto& items = form->cbPort.Items();
  EXPECT_NE(std::find(items.begin(), items.end(), "COM28"), items.end());
}

}  // namespace
}  // namespace configurator::testing
