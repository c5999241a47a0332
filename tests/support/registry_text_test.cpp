#include <gtest/gtest.h>

#include "support/registry_printing.h"
#include "support/registry_text.h"

namespace pelrow {
namespace {

std::string RoundTrip(const TRegKeyNode& root) {
  TRegKeyNode parsed;
  std::string error;
  const std::string text = FormatRegistryText(root);
  EXPECT_TRUE(ParseRegistryText(text, parsed, error)) << error << "\n" << text;
  return FormatRegistryText(parsed);
}

TEST(RegistryText, AwkwardNamesAndValuesSurviveTheFile) {
  std::string everyByte;
  for (int c = 0; c < 256; ++c)
    everyByte += static_cast<char>(c);
  TRegKeyNode root;
  TRegKeyNode& key = root.CreatePath({"Software", "we[ird] %41 \"key\"", "line\nbreak"});
  key.SetValue("a=b", TRegValue::FromText("x=y"));
  key.SetValue("[section]", TRegValue::FromText("text with \"quotes\" and \\ back\\slash"));
  key.SetValue("", TRegValue::FromText(""));
  key.SetValue("bytes", TRegValue::FromText(everyByte));
  key.SetValue(std::string("nul\0name", 8), TRegValue::FromInteger(INT32_MIN));
  key.SetValue("max", TRegValue::FromInteger(INT32_MAX));
  root.CreatePath({"Empty"});

  TRegKeyNode parsed;
  std::string error;
  const std::string text = FormatRegistryText(root);
  ASSERT_TRUE(ParseRegistryText(text, parsed, error)) << error;
  EXPECT_EQ(FormatRegistryText(parsed), text);

  const TRegKeyNode* back = parsed.FindPath({"software", "WE[IRD] %41 \"KEY\"", "line\nbreak"});
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->Name(), "line\nbreak");
  EXPECT_EQ(*back->FindValue("BYTES"), TRegValue::FromText(everyByte));
  EXPECT_EQ(*back->FindValue("a=b"), TRegValue::FromText("x=y"));
  EXPECT_EQ(*back->FindValue(std::string("nul\0name", 8)), TRegValue::FromInteger(INT32_MIN));
  EXPECT_NE(parsed.FindPath({"Empty"}), nullptr);
  // Every line of the file is plain text: no raw control bytes besides line ends.
  for (const char c : text)
    EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
}

TEST(RegistryText, ReadsHandEditedForms) {
  TRegKeyNode root;
  std::string error;
  ASSERT_TRUE(ParseRegistryText("# comment\r\n"
                                "  [\\Software\\Narvell\\]  \r\n"
                                "\"Speed\" = +250 \r\n"
                                "\"Name\"=\t\"Te\\x41rminal\"\n"
                                "[Software\\Narvell]\n"
                                "\"speed\"=-3\n",
                                root, error))
      << error;
  const TRegKeyNode* key = root.FindPath({"Software", "Narvell"});
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(*key->FindValue("Speed"), TRegValue::FromInteger(-3));
  EXPECT_EQ(key->Values().at("speed").Name, "Speed");
  EXPECT_EQ(*key->FindValue("name"), TRegValue::FromText("TeArminal"));
  EXPECT_EQ(RoundTrip(root), FormatRegistryText(root));
}

TEST(RegistryText, MalformedLinesAreReportedByNumber) {
  const std::pair<const char*, const char*> cases[] = {
      {"\"x\"=1\n", "line 1:"},
      {"[a]\n\"x\"=\n", "line 2:"},
      {"[a]\n\"x\"=2147483648\n", "line 2:"},
      {"[a]\n\"x\"=12abc\n", "line 2:"},
      {"[a]\n\"x\"=\"open\n", "line 2:"},
      {"[a]\n\"x\"=\"bad \\q escape\"\n", "line 2:"},
      {"[a]\n\"x\"=\"\\x4\"\n", "line 2:"},
      {"[a]\n\"x\"=\"a\" trailing\n", "line 2:"},
      {"[a]\n\"x\" 5\n", "line 2:"},
      {"[a\n", "line 1:"},
      {"[a%5Cb]\n", "line 1:"},
      {"[a%zz]\n", "line 1:"},
      {"\n\nkey=value\n", "line 3:"},
      {"[a]\n\"x\"=\"\\", "line 2:"},
  };
  for (const auto& [text, where] : cases) {
    TRegKeyNode root;
    std::string error;
    EXPECT_FALSE(ParseRegistryText(text, root, error)) << text;
    EXPECT_EQ(error.rfind(where, 0), 0u) << text << " -> " << error;
  }
}

TEST(RegistryText, RefusesKeysNestedDeeperThanTheRegistryAllows) {
  std::string deep = "[";
  for (std::size_t i = 0; i <= kMaxKeyDepth; ++i)
    deep += "k\\";
  deep += "]\n";
  TRegKeyNode root;
  std::string error;
  EXPECT_FALSE(ParseRegistryText(deep, root, error));
}

// Each key's line names its whole path, also next to deeper keys and after them.
TEST(RegistryText, DeepKeysAndTheirNeighboursKeepTheirPaths) {
  TRegKeyNode root;
  std::vector<std::string> path;
  for (std::size_t level = 0; level < kMaxKeyDepth; ++level) {
    path.push_back(std::string(1000, static_cast<char>('a' + level % 26)) + std::to_string(level));
    if (level % 100 == 0) {
      std::vector<std::string> neighbour = path;
      neighbour.back() = "neighbour" + std::to_string(level);
      root.CreatePath(neighbour).SetValue("level", TRegValue::FromInteger(int32_t(level)));
    }
  }
  root.CreatePath(path).SetValue("deep", TRegValue::FromText("bottom"));

  TRegKeyNode parsed;
  std::string error;
  ASSERT_TRUE(ParseRegistryText(FormatRegistryText(root), parsed, error)) << error;
  const TRegKeyNode* bottom = parsed.FindPath(path);
  ASSERT_NE(bottom, nullptr);
  EXPECT_EQ(*bottom->FindValue("deep"), TRegValue::FromText("bottom"));
  for (std::size_t level = 0; level < kMaxKeyDepth; level += 100) {
    std::vector<std::string> neighbour(path.begin(), path.begin() + long(level) + 1);
    neighbour.back() = "neighbour" + std::to_string(level);
    const TRegKeyNode* key = parsed.FindPath(neighbour);
    ASSERT_NE(key, nullptr) << level;
    EXPECT_EQ(*key->FindValue("level"), TRegValue::FromInteger(int32_t(level)));
  }
  EXPECT_EQ(FormatRegistryText(parsed), FormatRegistryText(root));
}

} // namespace
} // namespace pelrow
