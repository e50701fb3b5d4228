// How the Linux CreateFileA finds the device behind a port name.
#include "winapi/debug_output.h"
#include "../virtual_port.h"

#include <cstdlib>

namespace {

using winapi_test::OpenPort;

TEST(LinuxCreateFile, VirtualLineComesBeforeThePortMap) {
  auto line = winapi::VirtualLine::Create("COM19");
  HANDLE port = OpenPort("COM19");
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << winapi::GetLastError();
  EXPECT_TRUE(line->IsOpen());
  EXPECT_TRUE(winapi::CloseHandle(port));
}

TEST(LinuxCreateFile, MissingDevicePathIsFileNotFound) {
  EXPECT_EQ(OpenPort("/nonexistent/ttyNOPE0"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(LinuxCreateFile, NameThatIsNeitherLineNorPortIsFileNotFound) {
  EXPECT_EQ(OpenPort("NOT_A_PORT"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(LinuxCreateFile, HandleWithoutReadAccessCannotRead) {
  auto line = winapi::VirtualLine::Create(winapi_test::UniqueLineName());
  HANDLE port = winapi::CreateFileA(winapi_test::DevicePath(line->Name()).c_str(), GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  BYTE byte = 0;
  DWORD done = 0;
  EXPECT_FALSE(winapi::ReadFile(port, &byte, 1, &done, nullptr));
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(winapi::WriteFile(port, &byte, 1, &done, nullptr));
  winapi::CloseHandle(port);
}

TEST(LinuxDebugOutput, GoesToTheSinkWithoutADebugger) {
  std::string seen;
  winapi::SetDebugOutputSink([&](std::string_view text) { seen += text; });
  winapi::OutputDebugStringA("hello");
  winapi::OutputDebugStringA(nullptr);
  winapi::SetDebugOutputSink({});
  EXPECT_EQ(seen, "hello");
}

}  // namespace
