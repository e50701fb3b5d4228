#include "registry/linux/registry_tree.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace winapi::registry {
namespace {

TEST(RegistryFile, ValuesOfEveryKindSurviveTheText) {
  ParsedRegistry start = ParseRegistryText("");
  bool created = false;
  RegistryNode& key = start.top.Create({"HKEY_CURRENT_USER", "Odd ]%\\x\x01 names\xE9"}, created);
  ASSERT_TRUE(created);
  key.values[FoldName("a \"quoted\" \\ name\n")] =
      RegistryValue{"a \"quoted\" \\ name\n", REG_SZ, {'h', 'i', 0, 'x', 0}};
  key.values["B"] = RegistryValue{"b", REG_SZ, {'n', 'o', 'n', 'u', 'l'}};  // no terminator
  key.values["C"] = RegistryValue{"c", REG_DWORD, {1, 2}};                  // short dword
  key.values["D"] = RegistryValue{"d", 0xFFFFFFFFu, {}};
  key.values["E"] = RegistryValue{"e", REG_EXPAND_SZ, {0}};
  start.top.Create({"HKEY_USERS", "Empty", "Leaf"}, created);

  const std::string text = SerializeRegistry(start.top);
  const ParsedRegistry back = ParseRegistryText(text);
  EXPECT_TRUE(back.problems.empty()) << back.problems.front();
  EXPECT_EQ(SerializeRegistry(back.top), text);
  const RegistryNode* node = back.top.Find({"hkey_current_user", "ODD ]%\\X\x01 NAMES\xE9"});
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->values.at(FoldName("a \"quoted\" \\ name\n")).name, "a \"quoted\" \\ name\n");
  EXPECT_EQ(node->values.at(FoldName("a \"quoted\" \\ name\n")).data,
            (std::vector<BYTE>{'h', 'i', 0, 'x', 0}));
  EXPECT_EQ(node->values.at("B").data.size(), 5u);
  EXPECT_EQ(node->values.at("C").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(node->values.at("C").data.size(), 2u);
  EXPECT_EQ(node->values.at("D").type, 0xFFFFFFFFu);
  EXPECT_EQ(node->values.at("E").type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_NE(back.top.Find({"HKEY_USERS", "Empty", "Leaf"}), nullptr);
}

TEST(RegistryFile, EachUnreadableLineIsNamed) {
  const ParsedRegistry parsed = ParseRegistryText(
      "not the header\n"
      "\"orphan\"=dword:00000001\n"
      "[HKEY_CURRENT_USER\\K\n"
      "[HKEY_CURRENT_USER\\\\K]\n"
      "[HKEY_CURRENT_USER\\K%zz]\n"
      "[HKEY_CURRENT_USER\\K]\n"
      "\"x\"=hex(3):0,1\n"
      "\"y\"=hex(3):00,01,\n"
      "\"z\"=hex(99999999999):00\n"
      "\"w\"=qword:00\n"
      "\"v\"=sz:\"bad\\q\"\n"
      "\"ok\"=hex(3):\n");
  const std::vector<std::string> expected{"line 1: not a registry file header",
                                          "line 1: value outside a valid key",
                                          "line 2: value outside a valid key",
                                          "line 3: unterminated key header",
                                          "line 4: bad key path",
                                          "line 5: bad key path",
                                          "line 7: bad value data",
                                          "line 8: bad value data",
                                          "line 9: bad value data",
                                          "line 10: bad value data",
                                          "line 11: bad value data"};
  EXPECT_EQ(parsed.problems, expected);
  const RegistryNode* key = parsed.top.Find({"HKEY_CURRENT_USER", "K"});
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(key->values.size(), 1u);
  EXPECT_TRUE(key->values.at("OK").data.empty());
}

// Bounded random damage of a valid file: parsing never fails, and whatever it loads
// saves to a text that loads again without problems and to the same tree.
TEST(RegistryFile, RandomDamageLoadsWhatCanBeRead) {
  ParsedRegistry seed = ParseRegistryText("");
  bool created = false;
  RegistryNode& key = seed.top.Create({"HKEY_CURRENT_USER", "Software", "Port"}, created);
  key.values["PORT"] = RegistryValue{"Port", REG_SZ, {'C', 'O', 'M', '1', 0}};
  key.values["SIZE"] = RegistryValue{"Size", REG_DWORD, {0, 4, 0, 0}};
  key.values["BIN"] = RegistryValue{"Bin", REG_BINARY, {1, 2, 3}};
  const std::string valid = SerializeRegistry(seed.top);

  std::mt19937 random(4802);
  for (int round = 0; round < 3000; ++round) {
    std::string text = valid;
    const int edits = 1 + static_cast<int>(random() % 6);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const std::size_t at = random() % text.size();
      switch (random() % 4) {
        case 0:
          text[at] = static_cast<char>(random() % 256);
          break;
        case 1:
          text.erase(at, 1 + random() % 8);
          break;
        case 2:
          text.insert(at, 1, "[]\\\"=:%,\n\r\x00x"[random() % 13]);
          break;
        default:
          text.resize(at);
          break;  // truncation
      }
    }
    const ParsedRegistry parsed = ParseRegistryText(text);
    const std::string saved = SerializeRegistry(parsed.top);
    const ParsedRegistry again = ParseRegistryText(saved);
    ASSERT_TRUE(again.problems.empty()) << "round " << round;
    ASSERT_EQ(SerializeRegistry(again.top), saved) << "round " << round;
  }
}

}  // namespace
}  // namespace winapi::registry
