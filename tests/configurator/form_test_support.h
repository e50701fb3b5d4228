// Helpers shared by the window-logic tests: a hermetic port probe, a form on the headless
// back end, and lines or emulated devices standing in for COM ports.
#pragma once

#include "configurator/form_pzrq480.h"
#include "device/virtual_line_device.h"
#include "ui/headless_application.h"
#include "winapi/virtual_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <cerrno>
#include <csignal>

#include <unistd.h>
#endif

namespace configurator::testing {

using namespace std::chrono_literals;

inline constexpr std::chrono::milliseconds kLimit{10000};

// Points the port map at a folder in which every COM1..COM20 leads nowhere, so the
// start-up probe finds only the virtual lines a test creates, whatever the machine has.
class HermeticPortMap {
 public:
  HermeticPortMap() {
#ifndef _WIN32
    RemoveThoseOfEndedRuns();
    dir_ = std::filesystem::temp_directory_path() / (kPrefix + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    for (int i = 1; i <= 21; ++i) {
      const auto link = dir_ / ("COM" + std::to_string(i));
      std::error_code ignored;
      std::filesystem::remove(link, ignored);
      std::filesystem::create_symlink("/nonexistent", link);
    }
    ::setenv("PZ_PORT_MAP_DIR", dir_.c_str(), 1);
#endif
  }
  ~HermeticPortMap() {
#ifndef _WIN32
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
#endif
  }

 private:
  static constexpr char kPrefix[] = "pz-config-ports-";

  // A test program that was killed leaves its folder behind; the next run clears it.
  static void RemoveThoseOfEndedRuns() {
#ifndef _WIN32
    std::error_code error;
    for (std::filesystem::directory_iterator it(std::filesystem::temp_directory_path(), error), end;
         !error && it != end; it.increment(error)) {
      const std::string name = it->path().filename().string();
      if (name.rfind(kPrefix, 0) != 0) continue;
      const long pid = std::strtol(name.c_str() + sizeof kPrefix - 1, nullptr, 10);
      if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
        std::error_code ignored;
        std::filesystem::remove_all(it->path(), ignored);
      }
    }
#endif
  }

  std::filesystem::path dir_;
};

inline const HermeticPortMap& PortMap() {
  static HermeticPortMap map;
  return map;
}

// Counts the passes of message processing, to tell waiting from spinning.
class CountingApplication : public ui::HeadlessApplication {
 public:
  void ProcessMessages() override {
    ++passes;
    HeadlessApplication::ProcessMessages();
  }
  std::int64_t passes = 0;
};

// A form on the headless back end. Members that stand in for ports are declared by
// derived fixtures before `form` is made, so they outlive it.
class FormTest : public ::testing::Test {
 protected:
  FormTest() { PortMap(); }

  void Create() {
    form = std::make_unique<TFormPZRQ480>(app);
    app.RunHandler([this] { form->FormCreate(); });
  }

  // What the start-up probe finds without the test's own lines: nothing where the port map
  // is hermetic, the machine's free ports elsewhere.
  static std::vector<std::string> MachinePorts() {
    ui::HeadlessApplication quiet;
    TFormPZRQ480 probe(quiet);
    quiet.RunHandler([&] { probe.FormCreate(); });
    return probe.cbPort.Items();
  }

  // `ports` merged into the machine's ports in probe order (by number).
  static std::vector<std::string> WithMachinePorts(std::vector<std::string> ports) {
    for (const std::string& port : MachinePorts()) {
      if (std::find(ports.begin(), ports.end(), port) == ports.end()) ports.push_back(port);
    }
    std::sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
      return std::stoi(a.substr(3)) < std::stoi(b.substr(3));
    });
    return ports;
  }

  void Click(ui::Button& button) {
    app.RunHandler([&] { button.Click(); });
  }

  // The selected text of each device list, in wire order; "" where nothing is selected.
  std::vector<std::string> DeviceLists() const {
    std::vector<std::string> texts;
    for (const DeviceSetting& setting : DeviceSettings())
      texts.push_back((*form.*setting.list).Text());
    return texts;
  }

  void SelectPort(const std::string& name) {
    auto& items = form->cbPort.Items();
    auto it = std::find(items.begin(), items.end(), name);
    if (it == items.end()) {
      form->cbPort.Add(name);
      form->cbPort.SetItemIndex(static_cast<int>(items.size()) - 1);
    } else {
      form->cbPort.SetItemIndex(static_cast<int>(it - items.begin()));
    }
  }

  CountingApplication app;
  std::unique_ptr<TFormPZRQ480> form;
};

// Requests the emulated device received, as byte strings, in order.
inline std::vector<std::vector<std::uint8_t>> ReceivedFrames(const device::VirtualLineDevice& dev) {
  std::vector<std::vector<std::uint8_t>> frames;
  for (const auto& record : dev.Frames()) {
    if (record.kind == device::LogKind::Received) frames.push_back(record.bytes);
  }
  return frames;
}

// A ui timer of the test's own, ticking inside the form's waits.
struct SideTimer {
  explicit SideTimer(ui::Application& app, std::function<void()> onTick) : app(app) {
    timer.OnTimer = std::move(onTick);
    app.AddTimer(timer);
  }
  ~SideTimer() { app.RemoveTimer(timer); }
  ui::Application& app;
  ui::Window window{"Side", "", {}, "", 0};
  ui::Timer timer{"SideTimer", &window, 10};
};

}  // namespace configurator::testing
