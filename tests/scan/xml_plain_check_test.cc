#include "scan/xml_plain_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/byte_source.h"
#include "scan/itunes_parser.h"

namespace {

// The check's verdict on `xml` fed whole and fed a byte at a time (the
// two must agree).
bool Proven(const std::string& xml) {
  PlainXmlCheck whole;
  const bool proven = whole.Feed(xml) && whole.End();
  PlainXmlCheck bytewise;
  bool fed = true;
  for (char c : xml) fed = bytewise.Feed(std::string_view(&c, 1)) && fed;
  EXPECT_EQ(fed && bytewise.End(), proven) << xml;
  return proven;
}

bool ExpatAccepts(const std::string& xml) {
  platform::MemorySource source(xml);
  return CheckWellFormed(source, nullptr);
}

std::string Nested(int depth) {
  std::string xml;
  for (int i = 0; i < depth; ++i) xml += "<a>";
  for (int i = 0; i < depth; ++i) xml += "</a>";
  return xml;
}

TEST(PlainXmlCheckTest, ProvesSimpleDocumentsWithTheSamePrintAsExpat) {
  const std::string doctype =
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" 'http://x/a>b.dtd'>";
  const std::vector<std::string> documents = {
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + doctype +
          "\n<plist version=\"1.0\"><dict>\r\n"
          "<key>A &amp; B &lt;&gt;&apos;&quot; ]x]]y ></key><string>\xC3\xA9\xE2\x82\xAC"
          "\xF0\x9F\x98\x80\t</string><key><![CDATA[<raw>]x]]]]></key><true/>\n"
          "<key><!-- - x -->after<?pi x?>b<?pi?></key><key>&#38;&#x26;&#x1F600;&#13;</key>\n"
          "<dict><key a='>/' b=\"'\" c = \"\">inner</key ></dict>" +
          std::string(kXmlChunkBytes + 3, 'x') + "</dict></plist>\n<!-- after --> <?x y?>",
      "\xEF\xBB\xBF<plist/>",
      "<?xml version='1.0' standalone='yes' ?><!DOCTYPE a SYSTEM \"a.dtd\"><a/>",
      "<!-- first --><!DOCTYPE a><a/>",
      Nested(kMaxXmlDepth),
  };
  for (const std::string& xml : documents) {
    ASSERT_TRUE(ExpatAccepts(xml)) << xml;
    EXPECT_TRUE(Proven(xml)) << xml;
    platform::MemorySource quick_source(xml);
    XmlDocumentPrint quick;
    ASSERT_EQ(QuickCheckWellFormed(quick_source, {}, &quick), QuickCheck::kProven);
    platform::MemorySource expat_source(xml);
    XmlDocumentPrint expat;
    ASSERT_TRUE(CheckWellFormed(expat_source, nullptr, {}, &expat));
    EXPECT_EQ(quick.blocks, expat.blocks);
    EXPECT_TRUE(quick.plain && expat.plain);
  }
}

// Whatever is in doubt goes to Expat, which gives the verdict and the
// message, so every fault must leave the check in doubt.
TEST(PlainXmlCheckTest, EveryFaultAndEveryOtherFormIsInDoubt) {
  const std::vector<std::string> faults = {
      "",
      "  ",
      "<a>",
      "<a></b>",
      "<a><b></a></b>",
      "<a/><b/>",
      "<a/>x",
      "x<a/>",
      "</a>",
      "<a>]]></a>",
      "<a><!-- a -- b --></a>",
      "<a><!-- a ---></a>",
      "<a><?xml version='1.0'?></a>",
      "<a><?XmL x?></a>",
      "<a><?t?x?></a>",
      " <?xml version='1.0'?><a/>",
      "<?xml version='1.0'?><?xml version='1.0'?><a/>",
      "<?xml encoding='UTF-8'?><a/>",
      "<?xml version='1.0' standalone='yes' encoding='UTF-8'?><a/>",
      "<?xml version='1.0'encoding='UTF-8'?><a/>",
      "<a b='1' b='2'/>",
      "<a b='1'c='2'/>",
      "<a b=1/>",
      "<a b='<'/>",
      "<a b='1/>",
      "<a>\xC0\x80</a>",
      "<a>\xED\xA0\x80</a>",
      "<a>\xEF\xBF\xBE</a>",
      "<a>\x80</a>",
      "<a>\xF5\x80\x80\x80</a>",
      "<a>\xE2\x82</a>",
      std::string("<a>\0</a>", 8),
      "<a>\x01</a>",
      "<a>&#0;</a>",
      "<a>&#xD800;</a>",
      "<a>&#xFFFE;</a>",
      "<a>&#X41;</a>",
      "<a>&#x;</a>",
      "<a>&amp</a>",
      "<a>& b;</a>",
      "<?xml version='1.0' standalone='yes'?><a>&undefined;</a>",
      "<!DOCTYPE a SYSTEM 'x' SYSTEM 'y'><a/>",
      "<!DOCTYPE a PUBLIC 'x'><a/>",
      "<!DOCTYPE a PUBLIC '{' 'x'><a/>",
      "<!DOCTYPE a><!DOCTYPE a><a/>",
      "<a/><!DOCTYPE a>",
      "<a><![CDATA[x]]></a",
      "<a><![CDATA[x]></a>",
      "<!-- open",
      Nested(kMaxXmlDepth + 1),
  };
  for (const std::string& xml : faults) {
    EXPECT_FALSE(ExpatAccepts(xml)) << xml;
    EXPECT_FALSE(Proven(xml)) << xml;
  }
  // Well-formed, but not of the simple form: Expat reads them.
  const std::vector<std::string> others = {
      "<!DOCTYPE a [<!ATTLIST a b CDATA 'c'>]><a/>",
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xE9</a>",
      std::string("<\0a\0/\0>\0", 8),
      "\n<a/>",
      "<K\xC3\xA9y/>",
      "<a:b/>",
      "<!DOCTYPE a SYSTEM 'a.dtd'><a>&skipped;</a>",
      "<a b='&amp;'/>",
      "<a>\xC2\x85</a>",
      "<a>\x7F</a>",
      "<a><!--" + std::string(kMaxPlainMarkupBytes, ' ') + "--></a>",
  };
  for (const std::string& xml : others) {
    EXPECT_TRUE(ExpatAccepts(xml)) << xml;
    EXPECT_FALSE(Proven(xml)) << xml;
  }
}

}  // namespace
