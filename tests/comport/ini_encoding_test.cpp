// INI files with a byte-order mark, as Notepad and PowerShell write them.
#include "comport/ini_store.h"

#include "persistence_test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace comport {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;
using testing::WriteFile;

// The bytes of a UTF-16 LE file: the mark, then the units the compiler encoded.
std::string Utf16LeFile(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

std::string Utf8(const char8_t* text) {
  return reinterpret_cast<const char*>(text);
}

TEST(IniEncoding, Utf8MarkedFileIsReadAndKeepsItsMark) {
  ScratchFolder folder;
  const auto file = folder / "notepad.ini";
  WriteFile(file, "\xEF\xBB\xBF[COM1]\r\nPort=COM3\r\nCity=Z\xC3\xBCrich\r\n");
  {
    TIniStore store(file);
    EXPECT_EQ(store.GetText("COM1", "Port", "-"), "COM3");
    EXPECT_EQ(store.GetText("COM1", "City", "-"), Utf8(u8"Zürich"));
    store.PutText("COM1", "Port", "COM4");
    store.UpdateFile();
  }
  // The same section, not a second one appended after it.
  EXPECT_EQ(ReadFile(file), "\xEF\xBB\xBF[COM1]\r\nPort=COM4\r\nCity=Z\xC3\xBCrich\r\n");
}

TEST(IniEncoding, Utf16FileIsReadAndSavedAsUtf16) {
  ScratchFolder folder;
  const auto file = folder / "powershell.ini";
  std::u16string comment = u"; note \u00FC ";
  comment += static_cast<char16_t>(0xD800);  // an unpaired surrogate, kept as it is
  WriteFile(file, Utf16LeFile(comment + u"\r\n[COM1]\r\nPort=COM3\r\n"
                                        u"Name=Z\u00FCrich \U0001F682\r\n[Other]\r\nK=v\r\n"));
  {
    TIniStore store(file);
    EXPECT_EQ(store.GetText("com1", "Port", "-"), "COM3");
    EXPECT_EQ(store.GetText("COM1", "Name", "-"), Utf8(u8"Zürich 🚂"));
    EXPECT_EQ(store.GetText("Other", "K", "-"), "v");
    store.PutText("COM1", "Port", "COM4");
    store.PutText("COM1", "City", Utf8(u8"Málaga"));
    store.UpdateFile();
  }
  EXPECT_EQ(ReadFile(file), Utf16LeFile(comment + u"\r\n[COM1]\r\nPort=COM4\r\n"
                                                  u"Name=Z\u00FCrich \U0001F682\r\n"
                                                  u"City=M\u00E1laga\r\n[Other]\r\nK=v\r\n"));
  TIniStore reread(file);
  EXPECT_EQ(reread.GetText("COM1", "City", "-"), Utf8(u8"Málaga"));
}

TEST(IniEncoding, Utf16FileRefusesTextThatIsNotUtf8) {
  ScratchFolder folder;
  const auto file = folder / "unicode.ini";
  const std::string original = Utf16LeFile(u"[S]\r\nK=v\r\n") + "\x41";  // odd last byte
  WriteFile(file, original);
  TIniStore store(file);
  EXPECT_THROW(store.PutText("S", "K", "caf\xE9"), EIniFileError);
  EXPECT_THROW(store.PutText("S\xFF", "K", "v"), EIniFileError);
  EXPECT_FALSE(store.Modified());
  store.PutText("S", "K", "w");
  store.UpdateFile();
  EXPECT_EQ(ReadFile(file), Utf16LeFile(u"[S]\r\nK=w\r\n") + "\x41");
}

TEST(IniEncoding, NewAndUnmarkedFilesStayBytes) {
  ScratchFolder folder;
  const auto file = folder / "ansi.ini";
  WriteFile(file, "[S]\r\nK=caf\xE9\r\n");
  {
    TIniStore store(file);
    EXPECT_EQ(store.GetText("S", "K", "-"), "caf\xE9");
    store.PutText("S", "L", "\xFF");
    store.UpdateFile();
  }
  EXPECT_EQ(ReadFile(file), "[S]\r\nK=caf\xE9\r\nL=\xFF\r\n");
}

}  // namespace
}  // namespace comport
