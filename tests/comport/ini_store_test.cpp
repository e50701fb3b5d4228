#include "comport/ini_store.h"

#include "comport/text_conversion.h"
#include "persistence_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <sstream>
#include <vector>

namespace comport {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;
using testing::WriteFile;

TEST(IniStore, WritesCrlfFileThatReadsBackTheSame) {
  ScratchFolder folder;
  const auto file = folder / "port.ini";
  {
    TIniStore store(file);
    store.PutText("COM1", "Port", "COM7");
    store.PutInteger("COM1", "Buffer.InputSize", -2048);
    store.PutText("Other", "Flag", "Yes");
    EXPECT_TRUE(store.Modified());
    store.UpdateFile();
    EXPECT_FALSE(store.Modified());
  }
  EXPECT_EQ(ReadFile(file),
            "[COM1]\r\nPort=COM7\r\nBuffer.InputSize=-2048\r\n\r\n[Other]\r\nFlag=Yes\r\n");
  TIniStore reread(file);
  EXPECT_EQ(reread.GetText("COM1", "Port", "x"), "COM7");
  EXPECT_EQ(reread.GetInteger("COM1", "Buffer.InputSize", 0), -2048);
  EXPECT_EQ(reread.GetText("Other", "Flag", "x"), "Yes");
  EXPECT_EQ(reread.GetText("Other", "Port", "absent"), "absent");
  EXPECT_EQ(reread.GetText("Missing", "Port", "absent"), "absent");
}

TEST(IniStore, ReadsLikeThePrivateProfileReader) {
  ScratchFolder folder;
  const auto file = folder / "in.ini";
  WriteFile(file,
            "top=level\n"
            "[ com1 ]\r\n"
            "  PORT =  COM3  \n"
            "Quoted=\"  padded \"\n"
            "Single='x'\n"
            "Lonely=\"\n"
            "Empty=\n"
            "port=second\n"
            "; comment=not a key\n"
            "[COM1]\n"
            "Late=only in the duplicate section");
  TIniStore store(file);
  EXPECT_EQ(store.GetText("COM1", "Port", "-"), "COM3");
  EXPECT_EQ(store.GetText("Com1", "quoted", "-"), "  padded ");
  EXPECT_EQ(store.GetText("COM1", "Single", "-"), "x");
  EXPECT_EQ(store.GetText("COM1", "Lonely", "-"), "\"");
  EXPECT_EQ(store.GetText("COM1", "Empty", "-"), "");
  EXPECT_EQ(store.GetText("COM1", "; comment", "-"), "-");
  // Only the first of two equal sections is searched, as Windows does.
  EXPECT_EQ(store.GetText("COM1", "Late", "-"), "-");
  // The lines before the first header are the section "", as Windows reads them.
  EXPECT_EQ(store.GetText("", "top", "-"), "level");
}

// Bytes outside the written lines stay as they were, line ends included; added lines end
// like the file's first line.
TEST(IniStore, KeepsEverythingItDoesNotOwn) {
  ScratchFolder folder;
  const auto file = folder / "mixed.ini";
  WriteFile(file,
            "; settings of several programs\r\n"
            "[Editor]\n"
            "Font=Courier \x1A\r\n"
            "\r\n"
            "[COM2]\r\n"
            "; keep this note\n"
            "BaudRate=19200\r\n"
            "Unrelated=1\r\n"
            "\r\n"
            "[Tail]\r\n"
            "garbage line without equals");
  {
    TIniStore store(file);
    store.PutText("com2", "baudrate", "115200");
    store.PutText("COM2", "Parity", "Even");
    store.PutInteger("Tail", "Count", 3);
    store.UpdateFile();
  }
  EXPECT_EQ(ReadFile(file),
            "; settings of several programs\r\n"
            "[Editor]\n"
            "Font=Courier \x1A\r\n"
            "\r\n"
            "[COM2]\r\n"
            "; keep this note\n"
            "BaudRate=115200\r\n"
            "Unrelated=1\r\n"
            "Parity=Even\r\n"
            "\r\n"
            "[Tail]\r\n"
            "garbage line without equals\r\n"
            "Count=3\r\n");
}

TEST(IniStore, LfAndCrOnlyFilesKeepTheirLineEnds) {
  ScratchFolder folder;
  const auto lf = folder / "lf.ini";
  const auto cr = folder / "cr.ini";
  WriteFile(lf, "[COM1]\nPort=COM3\n");
  WriteFile(cr, "[COM1]\rPort=COM3\rBaudRate=9600\r[Other]\rK=v\r");
  for (const auto& file : {lf, cr}) {
    TIniStore store(file);
    EXPECT_EQ(store.GetText("COM1", "Port", "-"), "COM3") << file;
    store.PutText("COM1", "Port", "COM5");
    store.PutText("New", "Key", "x");
    store.UpdateFile();
  }
  EXPECT_EQ(ReadFile(lf), "[COM1]\nPort=COM5\n\n[New]\nKey=x\n");
  EXPECT_EQ(ReadFile(cr), "[COM1]\rPort=COM5\rBaudRate=9600\r[Other]\rK=v\r\r[New]\rKey=x\r");
  TIniStore reread(cr);
  EXPECT_EQ(reread.GetText("COM1", "BaudRate", "-"), "9600");
  EXPECT_EQ(reread.GetText("Other", "K", "-"), "v");
}

TEST(IniStore, IntegersAreDecimalAndBadTextGivesTheDefault) {
  ScratchFolder folder;
  const auto file = folder / "int.ini";
  WriteFile(file, "[S]\nHex=$10\nHex2=0x10\nWord=ten\nBig=2147483648\nSpaced= 12 \nMixed=12ab\n");
  TIniStore store(file);
  EXPECT_EQ(store.GetInteger("S", "Hex", 0), 16);
  EXPECT_EQ(store.GetInteger("S", "Hex2", 0), 16);
  EXPECT_EQ(store.GetInteger("S", "Word", 7), 7);
  EXPECT_EQ(store.GetInteger("S", "Big", 7), 7);
  EXPECT_EQ(store.GetInteger("S", "Spaced", 7), 12);
  EXPECT_EQ(store.GetInteger("S", "Mixed", 7), 7);
  EXPECT_EQ(store.GetInteger("S", "Absent", -5), -5);
  store.PutInteger("S", "Min", INT32_MIN);
  EXPECT_EQ(store.GetText("S", "Min", ""), "-2147483648");
  EXPECT_EQ(store.GetInteger("S", "Min", 0), INT32_MIN);
}

TEST(IniStore, ValuesTheReaderWouldAlterAreQuoted) {
  ScratchFolder folder;
  const auto file = folder / "quote.ini";
  const std::vector<std::string> values{" lead", "trail ",         "\"both\"", "'single'", "\"",
                                        "=",     ";not a comment", "[x]",      "\t"};
  {
    TIniStore store(file);
    for (std::size_t i = 0; i < values.size(); ++i) {
      store.PutText("S", "K" + std::to_string(i), values[i]);
    }
    store.UpdateFile();
  }
  TIniStore reread(file);
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(reread.GetText("S", "K" + std::to_string(i), "-"), values[i]) << i;
  }
}

// 0x0B, 0x0C and 0x1A count as blanks for the Windows reader: trimmed around names and
// values, so a value that starts or ends with one is quoted.
TEST(IniStore, SpacingControlsAreTrimmedAndQuotedLikeBlanks) {
  ScratchFolder folder;
  const auto file = folder / "controls.ini";
  WriteFile(file, "[\x0BS\x1A]\r\n\x0C Key\x0B= \x1A value\x0C \x0B\r\nMid=a\x0B\x1A b\r\n");
  {
    TIniStore store(file);
    EXPECT_EQ(store.GetText("S", "Key", "-"), "value");
    EXPECT_EQ(store.GetText("S", "Mid", "-"), "a\x0B\x1A b");
    store.PutText("S", "Lead", "\x0Blead");
    store.PutText("S", "Trail", "trail\x0C");
    store.PutText("S", "Eof", "\x1A");
    store.PutText("S", "Inner", "in\x1Aner");
    store.UpdateFile();
  }
  const std::string text = ReadFile(file);
  EXPECT_NE(text.find("\r\nLead=\"\x0Blead\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nTrail=\"trail\x0C\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nEof=\"\x1A\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nInner=in\x1Aner\r\n"), std::string::npos);
  TIniStore reread(file);
  EXPECT_EQ(reread.GetText("S", "Lead", "-"), "\x0Blead");
  EXPECT_EQ(reread.GetText("S", "Trail", "-"), "trail\x0C");
  EXPECT_EQ(reread.GetText("S", "Eof", "-"), "\x1A");
  EXPECT_THROW(reread.PutText("S", "\x0BKey", "v"), EIniFileError);
  EXPECT_THROW(reread.PutText("S\x1A", "Key", "v"), EIniFileError);
}

// Windows names the lines before the first header "", for reading and for writing; a
// "[]" header further down is never reached.
TEST(IniStore, TheEmptySectionIsTheTopOfTheFile) {
  ScratchFolder folder;
  const auto file = folder / "top.ini";
  WriteFile(file, "; top\r\nKept=1\r\n\r\n[A]\r\nX=1\r\n[]\r\nHidden=2\r\n");
  {
    TIniStore store(file);
    EXPECT_EQ(store.GetText("", "Kept", "-"), "1");
    EXPECT_EQ(store.GetText("", "Hidden", "-"), "-");
    store.PutText("", "Port", "COM2");
    store.PutText("", "Hidden", "3");
    store.UpdateFile();
  }
  EXPECT_EQ(ReadFile(file),
            "; top\r\nKept=1\r\nPort=COM2\r\nHidden=3\r\n\r\n[A]\r\nX=1\r\n[]\r\nHidden=2\r\n");

  const auto fresh = folder / "fresh.ini";
  WriteFile(fresh, "[A]\nX=1\n");
  {
    TIniStore store(fresh);
    store.PutText("", "Port", "COM2");
    store.UpdateFile();
  }
  EXPECT_EQ(ReadFile(fresh), "Port=COM2\n[A]\nX=1\n");
}

TEST(IniStore, RefusesWhatAFileCannotHoldAndChangesNothing) {
  ScratchFolder folder;
  const auto file = folder / "refuse.ini";
  WriteFile(file, "[S]\nK=old\n");
  TIniStore store(file);
  EXPECT_THROW(store.PutText("S", "K", "two\nlines"), EIniFileError);
  EXPECT_THROW(store.PutText("S", "K", "cr\r"), EIniFileError);
  EXPECT_THROW(store.PutText("S", "", "v"), EIniFileError);
  EXPECT_THROW(store.PutText("S", "a=b", "v"), EIniFileError);
  EXPECT_THROW(store.PutText("S", " K", "v"), EIniFileError);
  EXPECT_THROW(store.PutText("S", ";K", "v"), EIniFileError);
  EXPECT_THROW(store.PutText("S]", "K", "v"), EIniFileError);
  EXPECT_THROW(store.PutText("S\n", "K", "v"), EIniFileError);
  EXPECT_FALSE(store.Modified());
  EXPECT_EQ(store.GetText("S", "K", "-"), "old");
  try {
    store.PutText("S", "K", "a\nb");
  } catch (const EIniFileError& error) {
    EXPECT_EQ(error.Message(), "A line break cannot be stored in INI key 'K'");
  }
}

TEST(IniStore, UnchangedStoreDoesNotRewriteTheFile) {
  ScratchFolder folder;
  const auto file = folder / "same.ini";
  WriteFile(file, "[S]\nK=v\n");
  {
    TIniStore store(file);
    store.PutText("s", "k", "v");
    EXPECT_FALSE(store.Modified());
  }
  EXPECT_EQ(ReadFile(file), "[S]\nK=v\n");  // still LF: never rewritten
}

TEST(IniStore, DestructionSavesUnsavedChanges) {
  ScratchFolder folder;
  const auto file = folder / "late.ini";
  { TIniStore(file).PutText("S", "K", "v"); }
  EXPECT_EQ(ReadFile(file), "[S]\r\nK=v\r\n");
}

TEST(IniStore, SaveReplacesTheFileWholeAndLeavesNoTemporaryFiles) {
  ScratchFolder folder;
  const auto file = folder / "port.ini";
  WriteFile(file, "[S]\nK=old-and-longer-than-the-new-value\n");
  {
    TIniStore store(file);
    store.PutText("S", "K", "new");
    store.UpdateFile();
  }
  EXPECT_EQ(ReadFile(file), "[S]\nK=new\n");
  EXPECT_EQ(folder.EntryCount(), 1u);
}

TEST(IniStore, FailedSaveReportsAndKeepsWhatIsOnDisk) {
  ScratchFolder folder;
  const auto file = folder / "blocked.ini";
  WriteFile(file, "[S]\nK=old\n");
  TIniStore store(file);
  store.PutText("S", "K", "new");
  // A folder in place of the file makes the final rename fail, even for root.
  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  WriteFile(file / "inside", "keep");
  EXPECT_THROW(store.UpdateFile(), EIniFileError);
  EXPECT_TRUE(store.Modified());
  EXPECT_EQ(ReadFile(file / "inside"), "keep");
  EXPECT_EQ(folder.EntryCount(), 1u);  // no temporary file left behind
  std::filesystem::remove_all(file);
  store.UpdateFile();  // into the file as it is now: a new one, with its own line ends
  EXPECT_EQ(ReadFile(file), "[S]\r\nK=new\r\n");
}

// A save is tried once: after a failed UpdateFile the destructor does not write the
// same changes behind the caller's back, even when the file could now be written.
TEST(IniStore, AFailedUpdateIsNotTriedAgainByTheDestructor) {
  ScratchFolder folder;
  const auto file = folder / "once.ini";
  WriteFile(file, "[S]\nK=old\n");
  {
    TIniStore store(file);
    store.PutText("S", "K", "new");
    std::filesystem::rename(file, folder / "aside");
    std::filesystem::create_directory(file);
    EXPECT_THROW(store.UpdateFile(), EIniFileError);
    std::filesystem::remove(file);
    std::filesystem::rename(folder / "aside", file);
  }
  EXPECT_EQ(ReadFile(file), "[S]\nK=old\n");
}

TEST(IniStore, PathsThatAreNotFilesAreRefusedClearly) {
  ScratchFolder folder;
  try {
    TIniStore store(folder.path());
    FAIL() << "a folder was accepted as an INI file";
  } catch (const EIniFileError& error) {
    EXPECT_NE(error.Message().find("not a regular file"), std::string::npos) << error.Message();
  }
  TIniStore missing(folder / "absent.ini");
  EXPECT_EQ(missing.GetText("S", "K", "d"), "d");
  EXPECT_FALSE(std::filesystem::exists(folder / "absent.ini"));
}

// Random damage: truncation, stray bytes, NULs and CRs. Whatever the input, the store
// loads, a put value reads back, and keys that were readable before a put of another
// key read the same after saving and loading again.
TEST(IniStore, GarbledFilesLoadWhatCanBeRead) {
  ScratchFolder folder;
  const auto file = folder / "fuzz.ini";
  std::mt19937 random(4801);
  const std::vector<std::string> pieces{
      "[",    "]",  "=",    "\n",   "\r\n", "\r",    ";",   "\"",     "'",
      " ",    "\t", "COM1", "Port", "Key",  "value", "#17", "[COM1]", std::string(1, '\0'),
      "\xFF", "=="};
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const int count = static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) text += pieces[random() % pieces.size()];
    text = text.substr(0, random() % (text.size() + 1));  // truncated anywhere
    WriteFile(file, text);

    const std::vector<std::pair<std::string, std::string>> probes{
        {"COM1", "Port"}, {"COM1", "Key"}, {"", "Port"}, {"Port", "value"}};
    std::map<std::pair<std::string, std::string>, std::string> before;
    {
      TIniStore store(file);
      for (const auto& probe : probes) {
        before[probe] = store.GetText(probe.first, probe.second, "<absent>");
      }
      store.PutText("Fuzz", "Written", "#" + std::to_string(round));
      EXPECT_EQ(store.GetText("fuzz", "written", ""), "#" + std::to_string(round));
      store.UpdateFile();
    }
    TIniStore reread(file);
    EXPECT_EQ(reread.GetText("Fuzz", "Written", ""), "#" + std::to_string(round));
    for (const auto& probe : probes) {
      if (probe.first == "Fuzz") continue;
      EXPECT_EQ(reread.GetText(probe.first, probe.second, "<absent>"), before[probe])
          << "round " << round;
    }
  }
}

// An independent reader (Python's configparser) must see what the store wrote.
TEST(IniStore, IndependentReaderSeesTheSameValues) {
  if (std::system("python3 -c 'import configparser' >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "python3 with configparser is not available";
  }
  ScratchFolder folder;
  const auto file = folder / "cross.ini";
  WriteFile(file, "; written by hand\n[Other]\nKeep=me\n");
  std::map<std::string, std::string> expected;
  {
    TIniStore store(file);
    for (int code = 0; code < 256; code += 7) {
      const std::string key = "Char" + std::to_string(code);
      const std::string text = CharText(static_cast<char>(code));
      if (text == " " || text == "%") continue;
      store.PutText("COM4", key, text);
      expected[key] = text;
    }
    store.PutText("COM4", "Port", "COM4");
    store.PutText("COM4", "Parity.Check", "Yes");
    store.PutInteger("COM4", "Timeouts.ReadInterval", -1);
    expected["Port"] = "COM4";
    expected["Parity.Check"] = "Yes";
    expected["Timeouts.ReadInterval"] = "-1";
    store.UpdateFile();
  }
  const std::string command =
      "python3 -c \"import configparser,sys\n"
      "p=configparser.ConfigParser(interpolation=None)\n"
      "p.optionxform=str\n"
      "p.read(sys.argv[1], encoding='latin-1')\n"
      "[print(k+'\\t'+v.encode('latin-1').hex()) for k,v in p['COM4'].items()]\n"
      "print('Other.Keep\\t'+p['Other']['Keep'].encode().hex())\" '" +
      file.string() + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, n);
  ASSERT_EQ(::pclose(pipe), 0) << output;

  std::map<std::string, std::string> seen;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const auto tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    std::string value;
    for (std::size_t i = tab + 1; i + 1 < line.size(); i += 2) {
      value += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    }
    seen[line.substr(0, tab)] = value;
  }
  expected["Other.Keep"] = "me";
  EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace comport
