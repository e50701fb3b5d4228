#include "comport/ini_store.h"
#include "comport/port.h"
#include "comport/settings_files.h"
#include "persistence_test_support.h"
#include "port_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace comport {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;
using testing::WriteFile;

// Records every call of the four operations; reads answer from `stored` or the default.
class RecordingIniStore : public TIniStore {
 public:
  explicit RecordingIniStore(const ScratchFolder& folder) : TIniStore(folder / "never.ini") {}

  std::string GetText(const std::string& Section, const std::string& Key,
                      const std::string& Default) override {
    calls.push_back("GetText [" + Section + "] " + Key + " ?" + Default);
    if (beforeGet) beforeGet(Key);
    const auto it = stored.find(Key);
    return it == stored.end() ? Default : it->second;
  }
  void PutText(const std::string& Section, const std::string& Key,
               const std::string& Value) override {
    calls.push_back("PutText [" + Section + "] " + Key + "=" + Value);
  }
  std::int32_t GetInteger(const std::string& Section, const std::string& Key,
                          std::int32_t Default) override {
    calls.push_back("GetInteger [" + Section + "] " + Key + " ?" + std::to_string(Default));
    const auto it = stored.find(Key);
    return it == stored.end() ? Default : std::stoi(it->second);
  }
  void PutInteger(const std::string& Section, const std::string& Key, std::int32_t Value) override {
    calls.push_back("PutInteger [" + Section + "] " + Key + "=" + std::to_string(Value));
  }

  std::vector<std::string> calls;
  std::map<std::string, std::string> stored;
  std::function<void(const std::string&)> beforeGet;
};

std::vector<std::string> Puts(const std::string& section,
                              const std::vector<std::pair<std::string, std::string>>& texts) {
  std::vector<std::string> calls;
  for (const auto& [key, value] : texts) {
    calls.push_back(value.rfind("int:", 0) == 0
                        ? "PutInteger [" + section + "] " + key + "=" + value.substr(4)
                        : "PutText [" + section + "] " + key + "=" + value);
  }
  return calls;
}

const std::vector<std::pair<std::string, std::string>> kConnectionDefaults{
    {"Port", "COM1"},  {"BaudRate", "9600"}, {"StopBits", "1"},
    {"DataBits", "8"}, {"Parity", "None"},   {"FlowControl", "None"}};

TEST(PersistenceIni, NewPortWritesItsSixConnectionKeysInOrder) {
  ScratchFolder folder;
  TComPort port(nullptr);
  port.SetName("ComPort1");
  RecordingIniStore store(folder);
  port.WriteSettingsToIni(store);
  EXPECT_EQ(store.calls, Puts("ComPort1", kConnectionDefaults));
  EXPECT_EQ(folder.EntryCount(), 0u);  // the four operations never touch a file
}

TEST(PersistenceIni, CustomRateIsWrittenOnlyWithTheCustomBaudRate) {
  ScratchFolder folder;
  TComPort port(nullptr);
  port.SetCustomBaudRate(31250);
  RecordingIniStore plain(folder);
  port.WriteSettingsToIni(plain);
  EXPECT_EQ(plain.calls, Puts("", kConnectionDefaults));

  port.SetBaudRate(brCustom);
  RecordingIniStore custom(folder);
  port.WriteSettingsToIni(custom);
  EXPECT_EQ(custom.calls, Puts("", {{"Port", "COM1"},
                                    {"BaudRate", "Custom"},
                                    {"CustomBaudRate", "int:31250"},
                                    {"StopBits", "1"},
                                    {"DataBits", "8"},
                                    {"Parity", "None"},
                                    {"FlowControl", "None"}}));
}

TEST(PersistenceIni, AllGroupsWriteTwentyEightKeysInOrder) {
  ScratchFolder folder;
  TComPort port(nullptr);
  port.SetName("P");
  port.SetStoredGroups(kAllGroups);
  RecordingIniStore store(folder);
  port.WriteSettingsToIni(store);
  auto expected = kConnectionDefaults;
  expected.insert(expected.end(), {{"EventChar", "#0"},
                                   {"DiscardNull", "No"},
                                   {"Parity.Check", "No"},
                                   {"Parity.Replace", "No"},
                                   {"Parity.ReplaceChar", "#0"},
                                   {"Buffer.OutputSize", "int:1024"},
                                   {"Buffer.InputSize", "int:1024"},
                                   {"Timeouts.ReadInterval", "int:-1"},
                                   {"Timeouts.ReadTotalConstant", "int:0"},
                                   {"Timeouts.ReadTotalMultiplier", "int:0"},
                                   {"Timeouts.WriteTotalConstant", "int:1000"},
                                   {"Timeouts.WriteTotalMultiplier", "int:100"},
                                   {"FlowControl.ControlRTS", "Disable"},
                                   {"FlowControl.ControlDTR", "Disable"},
                                   {"FlowControl.DSRSensitivity", "No"},
                                   {"FlowControl.OutCTSFlow", "No"},
                                   {"FlowControl.OutDSRFlow", "No"},
                                   {"FlowControl.TxContinueOnXoff", "No"},
                                   {"FlowControl.XonXoffIn", "No"},
                                   {"FlowControl.XonXoffOut", "No"},
                                   {"FlowControl.XoffChar", "#19"},
                                   {"FlowControl.XonChar", "#17"}});
  EXPECT_EQ(store.calls, Puts("P", expected));
  EXPECT_EQ(store.calls.size(), 28u);
}

TEST(PersistenceIni, ReadVisitsTheKeysInOrderWithTheCurrentValuesAsDefaults) {
  ScratchFolder folder;
  TComPort port(nullptr);
  port.SetStoredGroups(TSettingGroups{sgConnection, sgBuffer});
  port.SetCustomBaudRate(1234);
  port.Buffer().SetInputSize(512);
  RecordingIniStore store(folder);
  store.stored = {{"BaudRate", "custom"}, {"Buffer.OutputSize", "2048"}};
  port.ReadSettingsFromIni(store);
  const std::vector<std::string> expected{
      "GetText [] Port ?COM1",
      "GetText [] BaudRate ?9600",
      "GetInteger [] CustomBaudRate ?9600",  // a fixed default, not the current 1234
      "GetText [] StopBits ?1",
      "GetText [] DataBits ?8",
      "GetText [] Parity ?None",
      "GetText [] FlowControl ?None",
      "GetInteger [] Buffer.OutputSize ?1024",
      "GetInteger [] Buffer.InputSize ?512"};
  EXPECT_EQ(store.calls, expected);
  EXPECT_EQ(port.BaudRate(), brCustom);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  EXPECT_EQ(port.Buffer().OutputSize(), 2048);
  EXPECT_EQ(port.Buffer().InputSize(), 512);
}

// The stored form of every setting, to compare whole ports.
std::vector<std::string> StoredForm(TCustomComPort& port) {
  ScratchFolder folder;
  RecordingIniStore store(folder);
  const TSettingGroups groups = port.StoredGroups();
  port.SetStoredGroups(kAllGroups);
  port.WriteSettingsToIni(store);
  port.SetStoredGroups(groups);
  store.calls.push_back("CustomBaudRate " + std::to_string(port.CustomBaudRate()));
  return store.calls;
}

void SetEverySetting(TCustomComPort& port) {
  port.SetPort("COM9");
  port.SetBaudRate(br115200);
  port.SetCustomBaudRate(250000);
  port.SetStopBits(sbTwoStopBits);
  port.SetDataBits(dbSeven);
  port.Parity().SetBits(prMark);
  port.SetEventChar('\n');
  port.SetDiscardNull(true);
  port.Parity().SetCheck(true);
  port.Parity().SetReplace(true);
  port.Parity().SetReplaceChar('?');
  port.Buffer().SetOutputSize(4096);
  port.Buffer().SetInputSize(8192);
  port.Timeouts().SetReadInterval(10);
  port.Timeouts().SetReadTotalConstant(20);
  port.Timeouts().SetReadTotalMultiplier(30);
  port.Timeouts().SetWriteTotalConstant(40);
  port.Timeouts().SetWriteTotalMultiplier(50);
  port.FlowControl().SetControlRTS(rtsToggle);
  port.FlowControl().SetControlDTR(dtrHandshake);
  port.FlowControl().SetDSRSensitivity(true);
  port.FlowControl().SetOutCTSFlow(true);
  port.FlowControl().SetOutDSRFlow(true);
  port.FlowControl().SetTxContinueOnXoff(true);
  port.FlowControl().SetXonXoffIn(true);
  port.FlowControl().SetXonXoffOut(false);
  port.FlowControl().SetXoffChar(static_cast<char>(0xF3));
  port.FlowControl().SetXonChar('#');
}

TEST(PersistenceIni, SectionWithoutKeysChangesNothing) {
  ScratchFolder folder;
  TComPort port(nullptr);
  SetEverySetting(port);
  port.SetStoredGroups(kAllGroups);
  const auto before = StoredForm(port);
  RecordingIniStore empty(folder);
  port.ReadSettingsFromIni(empty);
  EXPECT_EQ(StoredForm(port), before);

  // The one exception: a custom rate absent from the store reads as 9600.
  port.SetBaudRate(brCustom);
  RecordingIniStore emptyAgain(folder);
  port.ReadSettingsFromIni(emptyAgain);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
}

TEST(PersistenceIni, UnknownTextsFallBack) {
  ScratchFolder folder;
  TComPort port(nullptr);
  port.SetBaudRate(br19200);
  port.SetDataBits(dbFive);
  port.FlowControl().SetFlowControl(fcHardware);
  RecordingIniStore store(folder);
  store.stored = {{"BaudRate", "19200 "}, {"DataBits", "9"}, {"FlowControl", "none"}};
  port.ReadSettingsFromIni(store);
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);

  port.FlowControl().SetFlowControl(fcSoftware);
  store.stored = {{"FlowControl", "XonXoff"}};
  port.ReadSettingsFromIni(store);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcSoftware);  // fcCustom changes no field
}

TEST(PersistenceIni, EverySettingSurvivesAFileRoundTrip) {
  ScratchFolder folder;
  const auto file = folder / "ports.ini";
  WriteFile(file, "; other program\n[Window]\nLeft=10\n");
  TComPort saved(nullptr);
  saved.SetName("Link");
  saved.SetStoredGroups(kAllGroups);
  SetEverySetting(saved);
  saved.SetBaudRate(brCustom);
  SaveSettingsToIniFile(saved, file);

  TComPort loaded(nullptr);
  loaded.SetName("link");  // sections match without regard to case
  loaded.SetStoredGroups(kAllGroups);
  LoadSettingsFromIniFile(loaded, file);
  loaded.SetName("Link");
  EXPECT_EQ(StoredForm(loaded), StoredForm(saved));
  // The file's own line ends are kept and used for the added lines.
  EXPECT_EQ(ReadFile(file).rfind("; other program\n[Window]\nLeft=10\n\n[Link]\nPort=", 0), 0u);
}

TEST(PersistenceIni, WritingLeavesKeysItDoesNotOwnAlone) {
  ScratchFolder folder;
  const auto file = folder / "keep.ini";
  WriteFile(file, "[COM]\nCustomBaudRate=31250\nTimeouts.ReadInterval=77\n");
  TComPort port(nullptr);
  port.SetName("COM");
  SaveSettingsToIniFile(port, file);
  TIniStore store(file);
  EXPECT_EQ(store.GetInteger("COM", "CustomBaudRate", 0), 31250);
  EXPECT_EQ(store.GetInteger("COM", "Timeouts.ReadInterval", 0), 77);
  EXPECT_EQ(store.GetText("COM", "BaudRate", ""), "9600");
}

TEST(PersistenceIni, ChosenSectionAndStoreFailures) {
  ScratchFolder folder;
  const auto file = folder / "chosen.ini";
  TComPort port(nullptr);
  port.SetName("Ignored");
  port.SetPort("COM5");
  SaveSettingsToIniFile(port, file, "Modem");
  EXPECT_EQ(TIniStore(file).GetText("Modem", "Port", ""), "COM5");
  EXPECT_EQ(TIniStore(file).GetText("Ignored", "Port", "-"), "-");
  TComPort other(nullptr);
  LoadSettingsFromIniFile(other, file, "modem");
  EXPECT_EQ(other.Port(), "COM5");

  auto expectCode = [&](const std::function<void()>& action, int code, const char* text) {
    try {
      action();
      ADD_FAILURE() << "no error for " << text;
    } catch (const EComPort& error) {
      EXPECT_EQ(error.ErrorCode(), code);
      EXPECT_EQ(error.Message(), std::string("COM5 Error: ") + text);
    }
  };
  expectCode([&] { LoadSettingsFromIniFile(port, folder / "absent.ini"); }, 17,
             "Failed to load settings");
  expectCode([&] { LoadSettingsFromIniFile(port, folder.path()); }, 17, "Failed to load settings");
  expectCode([&] { SaveSettingsToIniFile(port, folder / "no-folder" / "x.ini"); }, 16,
             "Failed to store settings");
  expectCode([&] { SaveSettingsToIniFile(port, folder.path()); }, 16, "Failed to store settings");
  // An error of the store itself passes through unchanged.
  port.SetPort("COM\n5");
  EXPECT_THROW(SaveSettingsToIniFile(port, file), EIniFileError);
  EXPECT_EQ(TIniStore(file).GetText("Ignored", "Port", "-"), "-");
}

// A port without a Name stores its keys before the first header, where Windows looks
// for the section "".
TEST(PersistenceIni, AnUnnamedPortUsesTheTopOfTheFile) {
  ScratchFolder folder;
  const auto file = folder / "unnamed.ini";
  WriteFile(file, "[Other]\r\nPort=COM9\r\n");
  TComPort saved(nullptr);
  saved.SetPort("COM6");
  SaveSettingsToIniFile(saved, file);
  EXPECT_EQ(ReadFile(file).rfind("Port=COM6\r\nBaudRate=9600\r\n", 0), 0u) << ReadFile(file);
  EXPECT_NE(ReadFile(file).find("\r\n[Other]\r\nPort=COM9\r\n"), std::string::npos);

  WriteFile(file, "Port=COM8\r\n[Other]\r\nPort=COM9\r\n");
  TComPort loaded(nullptr);
  LoadSettingsFromIniFile(loaded, file);
  EXPECT_EQ(loaded.Port(), "COM8");
}

// The folder being writable must not let a save replace a file its owner made
// read-only; Windows refuses it, and so does the save here, whoever runs it.
TEST(PersistenceIni, AReadOnlyFileIsRefusedAndLeftAsItIs) {
  ScratchFolder folder;
  const auto file = folder / "locked.ini";
  const std::string original = "[COM]\r\nPort=COM2\r\n";
  WriteFile(file, original);
  std::filesystem::permissions(file,
                               std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
  const auto mode = std::filesystem::status(file).permissions();
  TComPort port(nullptr);
  port.SetName("COM");
  port.SetPort("COM7");
  try {
    SaveSettingsToIniFile(port, file);
    ADD_FAILURE() << "a read-only file was replaced";
  } catch (const EComPort& error) {
    EXPECT_EQ(error.ErrorCode(), 16);
  }
  EXPECT_EQ(ReadFile(file), original);
  EXPECT_EQ(std::filesystem::status(file).permissions(), mode);
  EXPECT_EQ(folder.EntryCount(), 1u);
  TComPort loaded(nullptr);  // still readable
  loaded.SetName("COM");
  LoadSettingsFromIniFile(loaded, file);
  EXPECT_EQ(loaded.Port(), "COM2");
  // Windows deletes no read-only file, so the scratch folder could not be cleared.
  std::filesystem::permissions(file, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
}

TEST(PersistenceIni, ReadingAnotherPortReopensBeforeTheNextKey) {
  ScratchFolder folder;
  const auto first = testing::LineForThisTest("_a");
  const auto second = testing::LineForThisTest("_b");
  TComPort port(nullptr);
  port.SetEvents(TComEvents{});
  port.SetPort(first->Name());
  port.Open();
  ASSERT_TRUE(first->IsOpen());

  RecordingIniStore store(folder);
  store.stored = {{"Port", second->Name()}};
  bool checked = false;
  store.beforeGet = [&](const std::string& key) {
    if (key != "BaudRate") return;
    checked = true;
    EXPECT_FALSE(first->IsOpen());
    EXPECT_TRUE(second->IsOpen());
    EXPECT_TRUE(port.Connected());
  };
  port.ReadSettingsFromIni(store);
  EXPECT_TRUE(checked);
  EXPECT_EQ(port.Port(), second->Name());
  port.Close();
}

// What the component writes, an independent reader (Python's configparser) reads.
TEST(PersistenceIni, IndependentReaderSeesThePortsSettings) {
  if (std::system("python3 -c 'import configparser' >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "python3 with configparser is not available";
  }
  ScratchFolder folder;
  const auto file = folder / "port.ini";
  TComPort port(nullptr);
  port.SetName("ComPort1");
  port.SetStoredGroups(kAllGroups);
  SetEverySetting(port);
  SaveSettingsToIniFile(port, file);

  const std::string command =
      "python3 -c \"import configparser,sys\n"
      "p=configparser.ConfigParser(interpolation=None)\n"
      "p.optionxform=str\n"
      "p.read(sys.argv[1], encoding='latin-1')\n"
      "[print(k+'='+v) for k,v in p['ComPort1'].items()]\" '" +
      file.string() + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    output.append(buffer, n);
  }
  ASSERT_EQ(::pclose(pipe), 0) << output;

  std::string expected;
  for (const std::string& call : StoredForm(port)) {
    if (call.rfind("Put", 0) != 0) continue;
    expected += call.substr(call.find("] ") + 2) + "\n";
  }
  EXPECT_EQ(output, expected);
}

}  // namespace
}  // namespace comport
