#include "platform/registry_text.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace platform {
namespace {

constexpr char kSettings[] = "HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\Settings";

RegDocument SampleDocument() {
  RegDocument doc;
  RegKeyNode& key = doc.CreateKey(kSettings);
  key.SetValue(MakeStringValue("Path", u"C:\\Music\\\"best\""));
  key.SetValue(MakeStringValue("Unicode", u"Bj\u00f6rk \U0001F3B5 \u65e5\u672c"));
  key.SetValue(MakeStringValue("Lines", u"one\r\ntwo\tthree"));
  key.SetValue(MakeStringValue("Nul", std::u16string(u"a\0b", 3)));
  key.SetValue(MakeStringValue("Empty", u""));
  key.SetValue(MakeStringValue("Long\"Name\\", std::u16string(300, u'\n')));
  key.SetValue(MakeDwordValue("LogLevel", 10));
  key.SetValue(MakeDwordValue("LogModule", 0xFFFFFFFF));
  key.SetValue(MakeStringValue("", u"default"));
  key.SetValue(RegValue{"Blob", REG_BINARY, std::string("\x01\x02\xff", 3)});
  std::u16string lone_surrogate(1, static_cast<char16_t>(0xD800));
  key.SetValue(MakeStringValue("Surrogate", lone_surrogate));
  doc.CreateKey("HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\PlayMonitor");
  return doc;
}

bool SameDocument(const RegDocument& a, const RegDocument& b) {
  if (a.keys().size() != b.keys().size()) return false;
  for (std::size_t i = 0; i < a.keys().size(); ++i)
    if (a.keys()[i].path != b.keys()[i].path || a.keys()[i].values != b.keys()[i].values)
      return false;
  return true;
}

TEST(RegistryTextTest, EveryValueRoundTrips) {
  RegDocument doc = SampleDocument();
  std::string text = SerializeRegistryText(doc);
  RegParseResult parsed = ParseRegistryText(text);
  EXPECT_FALSE(parsed.damaged()) << parsed.problems.front().reason;
  EXPECT_TRUE(SameDocument(doc, parsed.document)) << text;
  // Serialising again gives the same bytes.
  EXPECT_EQ(SerializeRegistryText(parsed.document), text);
}

TEST(RegistryTextTest, WritesTheExportFormat) {
  std::string text = SerializeRegistryText(SampleDocument());
  EXPECT_TRUE(text.starts_with("Windows Registry Editor Version 5.00\n\n[" +
                               std::string(kSettings) +
                               "]\n\"Path\"=\"C:\\\\Music\\\\\\\"best\\\"\"\n"))
      << text;
  EXPECT_NE(text.find("\"Unicode\"=\"Bj\xc3\xb6rk \xf0\x9f\x8e\xb5 \xe6\x97\xa5\xe6\x9c\xac\"\n"),
            std::string::npos);
  EXPECT_NE(text.find("\"Lines\"=hex(1):6f,00,6e,00,65,00,0d,00,0a,00,74,00"), std::string::npos);
  EXPECT_NE(text.find("\"Empty\"=\"\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"LogLevel\"=dword:0000000a\n"), std::string::npos);
  EXPECT_NE(text.find("\"LogModule\"=dword:ffffffff\n"), std::string::npos);
  EXPECT_NE(text.find("@=\"default\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"Blob\"=hex:01,02,ff\n"), std::string::npos);
  EXPECT_NE(text.find("\\PlayMonitor]\n\n"), std::string::npos);
  // Long hex data is wrapped into short continued lines.
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
    start = end + 1;
  }
}

TEST(RegistryTextTest, AValueWrappedOverManyLinesIsJoinedWhole) {
  std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\K]\n\"v\"=hex:";
  for (int i = 0; i < 50000; ++i) text += "41,\\ \t\r\n \t";
  text += "42\n\"after\"=dword:00000001\n";
  const RegParseResult parsed = ParseRegistryText(text);
  EXPECT_FALSE(parsed.damaged());
  const RegKeyNode* key = parsed.document.FindKey("HKEY_CURRENT_USER\\K");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(key->values.size(), 2u);
  EXPECT_EQ(key->values[0].data, std::string(50000, 'A') + "B");
  EXPECT_EQ(key->values[1].name, "after");
}

TEST(RegistryTextTest, ReadsWindowsExports) {
  std::string crlf =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
      "; exported\r\n"
      "[HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\Settings]\r\n"
      "\"Username\"=\"bob\"\r\n"
      "\"Notified\"=dword:00000103\r\n"
      "\"Multi\"=hex(1):61,00,0d,00,0a,00,\\\r\n"
      "  62,00,00,00\r\n"
      "@=\"x\"\r\n";
  RegParseResult parsed = ParseRegistryText(crlf);
  ASSERT_FALSE(parsed.damaged()) << parsed.problems.front().reason;
  const RegKeyNode* key = parsed.document.FindKey(kSettings);
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(key->values.size(), 4u);
  EXPECT_EQ(TextFromData(key->values[0].data), u"bob");
  EXPECT_EQ(DwordFromData(key->values[1].data), 0x103u);
  EXPECT_EQ(TextFromData(key->values[2].data), u"a\r\nb");
  EXPECT_EQ(key->values[3].name, "");

  // The same export as regedit writes it: UTF-16LE with a byte order mark.
  std::u16string wide = Utf8ToUtf16(crlf.substr(3));
  std::string utf16 = "\xFF\xFE";
  for (char16_t u : wide) utf16 += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  RegParseResult from_wide = ParseRegistryText(utf16);
  EXPECT_FALSE(from_wide.damaged());
  EXPECT_TRUE(SameDocument(from_wide.document, parsed.document));
}

TEST(RegistryTextTest, EmptyTextIsAnEmptyRegistry) {
  EXPECT_FALSE(ParseRegistryText("").damaged());
  EXPECT_FALSE(ParseRegistryText("\n\n").damaged());
  EXPECT_TRUE(ParseRegistryText("").document.keys().empty());
}

TEST(RegistryTextTest, DamagedLinesAreListedAndEverythingElseKept) {
  std::string text =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\Settings]\n"
      "\"Username\"=\"bob\"\n"
      "\"Password\"=\"unterminated\n"  // line 5
      "\"LogLevel\"=dword:0005\n"      // 6: cut short
      "garbage line\n"                 // 7
      "\"Bad\"=hex(1):6g,00\n"         // 8
      "\"Escape\"=\"a\\nb\"\n"         // 9
      "\"ServerUrl\"=\"http://x/kiv_backend/api\"\n"
      "[HKEY_CURRENT_USER\\Software\\KIV\\Log\n"  // 11: unterminated key
      "\"Lost\"=\"under the bad key\"\n"          // 12
      "[HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\SearchPaths]\n"
      "\"path0\"=\"/music\"\n"
      "\"enable0\"=dword:00000001\n"
      "\"Trunc\"=hex(1):61,00,\\\n";  // 16: continuation never came
  RegParseResult parsed = ParseRegistryText(text);
  ASSERT_TRUE(parsed.damaged());
  std::vector<int> lines;
  for (const RegParseProblem& p : parsed.problems) lines.push_back(p.line);
  EXPECT_EQ(lines, (std::vector<int>{5, 6, 7, 8, 9, 11, 12, 16}));
  const RegKeyNode* settings = parsed.document.FindKey(kSettings);
  ASSERT_NE(settings, nullptr);
  ASSERT_EQ(settings->values.size(), 2u);
  EXPECT_EQ(settings->values[0].name, "Username");
  EXPECT_EQ(settings->values[1].name, "ServerUrl");
  const RegKeyNode* paths =
      parsed.document.FindKey("HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\SearchPaths");
  ASSERT_NE(paths, nullptr);
  EXPECT_EQ(paths->values.size(), 2u);
  EXPECT_EQ(parsed.document.FindKey("HKEY_CURRENT_USER\\Software\\KIV\\Log"), nullptr);
}

TEST(RegistryTextTest, MissingHeaderOrStrayBytesAreDamage) {
  RegParseResult no_header =
      ParseRegistryText("[HKEY_CURRENT_USER\\Software\\KIV]\n\"a\"=dword:00000001\n");
  ASSERT_TRUE(no_header.damaged());
  EXPECT_EQ(no_header.problems[0].reason, "missing header line");
  EXPECT_EQ(no_header.document.ValueCount(), 1u);

  std::string zeros =
      "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n\"k\"=\"v\"\n";
  zeros += std::string(16, '\0');
  RegParseResult zero_tail = ParseRegistryText(zeros);
  EXPECT_TRUE(zero_tail.damaged());
  EXPECT_EQ(zero_tail.document.ValueCount(), 1u);

  RegParseResult bad_utf8 = ParseRegistryText(
      "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"k\"=\"caf\xe9\"\n");
  ASSERT_TRUE(bad_utf8.damaged());
  // The value is kept with the bad byte replaced.
  EXPECT_EQ(TextFromData(bad_utf8.document.keys()[0].values[0].data), u"caf\uFFFD");
}

TEST(RegistryTextTest, NamesCompareWithoutCase) {
  RegParseResult parsed = ParseRegistryText(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CURRENT_USER\\Software\\KIV]\n\"Alpha\"=dword:00000001\n\"Beta\"=dword:00000002\n"
      "[HKEY_CURRENT_USER\\software\\kiv]\n\"ALPHA\"=dword:00000003\n");
  ASSERT_FALSE(parsed.damaged());
  ASSERT_EQ(parsed.document.keys().size(), 1u);
  const RegKeyNode& key = parsed.document.keys()[0];
  ASSERT_EQ(key.values.size(), 2u);
  EXPECT_EQ(key.values[0].name, "Alpha");  // first spelling, first place, last data
  EXPECT_EQ(DwordFromData(key.values[0].data), 3u);
}

TEST(RegistryTextTest, DocumentKeysFormATree) {
  RegDocument doc;
  doc.CreateKey("HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\Settings");
  EXPECT_TRUE(doc.KeyExists("HKEY_CURRENT_USER\\software\\KIV"));
  EXPECT_FALSE(doc.KeyExists("HKEY_CURRENT_USER\\Software\\KI"));
  RegKeyNode& log = doc.CreateKey("HKEY_CURRENT_USER\\SOFTWARE\\kiv\\Log");
  EXPECT_EQ(log.path, "HKEY_CURRENT_USER\\Software\\KIV\\Log");
  EXPECT_EQ(doc.SubKeyNames("HKEY_CURRENT_USER\\Software\\KIV"),
            (std::vector<std::string>{"Windows Client", "Log"}));
}

}  // namespace
}  // namespace platform
