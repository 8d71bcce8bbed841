#include "scan/itunes_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Hands out the bytes a few at a time, so that every token, name and text
// is split across reads somewhere.
class TrickleSource : public platform::ByteSource {
 public:
  explicit TrickleSource(std::string bytes) : bytes_(std::move(bytes)) {}
  long Read(char* buffer, std::size_t size) override {
    std::size_t n = std::min({size, bytes_.size() - offset_, 1 + offset_ % 7});
    std::copy_n(bytes_.data() + offset_, n, buffer);
    offset_ += n;
    return static_cast<long>(n);
  }

 private:
  std::string bytes_;
  std::size_t offset_ = 0;
};

// Produces `total` bytes: `head`, then `fill` repeated, then `tail`,
// without holding them in memory.
class GeneratedSource : public platform::ByteSource {
 public:
  GeneratedSource(std::string head, char fill, std::uint64_t total, std::string tail)
      : head_(std::move(head)), tail_(std::move(tail)), fill_(fill), total_(total) {}
  long Read(char* buffer, std::size_t size) override {
    const std::uint64_t tail_start = total_ - tail_.size();
    std::size_t n = 0;
    while (n < size && offset_ < total_) {
      if (offset_ >= head_.size() && offset_ < tail_start) {
        // A run of fill bytes at once.
        const std::size_t run =
            static_cast<std::size_t>(std::min<std::uint64_t>(size - n, tail_start - offset_));
        std::memset(buffer + n, fill_, run);
        n += run;
        offset_ += run;
        continue;
      }
      buffer[n++] = offset_ < head_.size() ? head_[offset_] : tail_[offset_ - tail_start];
      ++offset_;
    }
    return static_cast<long>(n);
  }

 private:
  std::string head_, tail_;
  char fill_;
  std::uint64_t total_;
  std::uint64_t offset_ = 0;
};

class ErrorSource : public platform::ByteSource {
 public:
  long Read(char*, std::size_t) override { return -1; }
};

// "name=text@depth" of every element handed out by a full walk of `xml`
// down to the reader's report depth, children after their parent.
void Walk(ItunesXmlReader& reader, int depth, std::vector<std::string>* out) {
  XmlElement element;
  while (reader.NextChild(depth, &element)) {
    out->push_back(element.name + "=" + (element.has_text ? element.text : "(none)") + "@" +
                   std::to_string(element.depth));
    Walk(reader, element.depth, out);
  }
}

std::vector<std::string> WalkAll(const std::string& xml, bool trickle = false) {
  platform::MemorySource memory(xml);
  TrickleSource slow(xml);
  platform::ByteSource& source = trickle ? static_cast<platform::ByteSource&>(slow) : memory;
  ItunesXmlReader reader(source);
  std::vector<std::string> out;
  Walk(reader, 0, &out);
  EXPECT_FALSE(reader.failed()) << reader.error();
  return out;
}

bool WellFormed(const std::string& xml, std::string* error = nullptr) {
  platform::MemorySource source(xml);
  std::string ignored;
  return CheckWellFormed(source, error ? error : &ignored);
}

TEST(ItunesXmlReaderTest, HandsOutElementsWithTheTextOfTheirFirstChild) {
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\"><dict>\n"
      "  <key>A &amp; B</key><string> lead</string>\n"
      "  <key><![CDATA[<raw>]]></key><key>   </key><key></key><true/>\n"
      "  <key><!-- first -->after</key><key>text<!-- c -->more</key>\n"
      "  <dict>t<key>inner</key></dict>\n"
      "</dict></plist>";
  const std::vector<std::string> expected = {"plist=(none)@1", "dict=(none)@2", "key=A & B@3",
                                             "string= lead@3", "key=<raw>@3",   "key=(none)@3",
                                             "key=(none)@3",   "true=(none)@3", "key=(none)@3",
                                             "key=text@3",     "dict=t@3",      "key=inner@4"};
  EXPECT_EQ(WalkAll(xml), expected);
  EXPECT_EQ(WalkAll(xml, true), expected);
}

TEST(ItunesXmlReaderTest, SkipsWhatLiesDeeperAndGoesOnWithTheNextSibling) {
  const std::string xml =
      "<plist><dict><key>a</key><dict><key>b</key><array><dict><key>deep</key></dict></array>"
      "</dict><key>c</key></dict><dict/></plist>";
  platform::MemorySource source(xml);
  ItunesXmlReader reader(source);
  XmlElement e;
  ASSERT_TRUE(reader.NextChild(0, &e));
  ASSERT_TRUE(reader.NextChild(1, &e));
  ASSERT_TRUE(reader.NextChild(2, &e));
  EXPECT_EQ(e.text, "a");
  ASSERT_TRUE(reader.NextChild(2, &e));
  EXPECT_EQ(e.name, "dict");
  // Read one child of the inner dict, then leave it.
  ASSERT_TRUE(reader.NextChild(3, &e));
  EXPECT_EQ(e.text, "b");
  ASSERT_TRUE(reader.NextChild(2, &e));
  EXPECT_EQ(e.text, "c");
  EXPECT_FALSE(reader.NextChild(2, &e));  // the outer dict ends
  ASSERT_TRUE(reader.NextChild(1, &e));
  EXPECT_EQ(e.name, "dict");
  EXPECT_FALSE(reader.NextChild(2, &e));  // empty
  EXPECT_FALSE(reader.NextChild(1, &e));
  EXPECT_FALSE(reader.NextChild(0, &e));
  EXPECT_FALSE(reader.failed());
}

TEST(ItunesXmlReaderTest, ElementsBeyondTheReportDepthAreNotHandedOut) {
  platform::MemorySource source("<a><b><c>x</c></b><b2/></a>");
  ItunesXmlReader reader(source, 2);
  std::vector<std::string> out;
  Walk(reader, 0, &out);
  EXPECT_EQ(out, (std::vector<std::string>{"a=(none)@1", "b=(none)@2", "b2=(none)@2"}));
}

TEST(ItunesXmlReaderTest, LongTextIsCutAndMarked) {
  const std::string xml = "<a>" + std::string(kMaxXmlTextBytes + 10, 'x') + "<b/></a>";
  platform::MemorySource source(xml);
  ItunesXmlReader reader(source);
  XmlElement e;
  ASSERT_TRUE(reader.NextChild(0, &e));
  EXPECT_EQ(e.text.size(), kMaxXmlTextBytes);
  EXPECT_TRUE(e.text_cut);
  ASSERT_TRUE(reader.NextChild(1, &e));
  EXPECT_FALSE(e.text_cut);

  // The cut falls between characters.
  std::string euros = "<a>x";
  for (std::size_t i = 0; i < kMaxXmlTextBytes / 3 + 1; ++i) euros += "\xE2\x82\xAC";
  euros += "</a>";
  platform::MemorySource wide(euros);
  ItunesXmlReader wide_reader(wide);
  ASSERT_TRUE(wide_reader.NextChild(0, &e));
  EXPECT_TRUE(e.text_cut);
  EXPECT_EQ(e.text.size(), 1 + (kMaxXmlTextBytes - 1) / 3 * 3);
}

TEST(ItunesXmlReaderTest, DamagedDocumentsFailWithTheirReason) {
  std::string error;
  EXPECT_TRUE(WellFormed("<plist><dict/></plist>"));
  EXPECT_FALSE(WellFormed("", &error));
  EXPECT_NE(error.find("no element found"), std::string::npos) << error;
  EXPECT_FALSE(WellFormed("<plist><dict><key>Tracks</key><dict><key>1", &error));
  EXPECT_NE(error.find("line 1"), std::string::npos) << error;
  EXPECT_FALSE(WellFormed("<plist><dict></plist>", &error));
  EXPECT_NE(error.find("mismatched tag"), std::string::npos) << error;
  EXPECT_FALSE(WellFormed("<a>&undefined;</a>"));
  EXPECT_FALSE(WellFormed("<a>\xFF\xFE</a>"));
  EXPECT_FALSE(WellFormed("<a/><b/>"));

  // The walk stops at the point of failure: what came before was handed
  // out, nothing after.
  platform::MemorySource source("<plist><dict><key>x</key><</dict></plist>");
  ItunesXmlReader reader(source);
  XmlElement e;
  std::vector<std::string> names;
  while (reader.NextChild(static_cast<int>(names.size()), &e)) names.push_back(e.name);
  EXPECT_TRUE(reader.failed());
  EXPECT_LT(names.size(), 4u);

  ErrorSource broken;
  EXPECT_FALSE(CheckWellFormed(broken, &error));
  EXPECT_EQ(error, "the file could not be read");
}

TEST(ItunesXmlReaderTest, RefusesEntityDeclarations) {
  const std::string laughs =
      "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
      "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
      "<!ENTITY lol2 \"&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;\">"
      "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">"
      "<!ENTITY lol9 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">]>"
      "<plist><dict><key>&lol9;</key></dict></plist>";
  std::string error;
  EXPECT_FALSE(WellFormed(laughs, &error));
  EXPECT_EQ(error, "entity declarations are not allowed");
  // An external entity is refused the same way, and never fetched.
  EXPECT_FALSE(
      WellFormed("<!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><a>&e;</a>", &error));
  EXPECT_EQ(error, "entity declarations are not allowed");
}

TEST(ItunesXmlReaderTest, NestingIsLimited) {
  auto nested = [](int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i) xml += "<a>";
    for (int i = 0; i < depth; ++i) xml += "</a>";
    return xml;
  };
  EXPECT_TRUE(WellFormed(nested(kMaxXmlDepth)));
  std::string error;
  EXPECT_FALSE(WellFormed(nested(kMaxXmlDepth + 1), &error));
  EXPECT_EQ(error, "elements nested deeper than 500");
  // A stream of openings that never closes stops at the limit, long before
  // its end.
  std::string opens;
  for (int i = 0; i < 100000; ++i) opens += "<a>";
  platform::MemorySource source(opens);
  EXPECT_FALSE(CheckWellFormed(source, &error));
  EXPECT_EQ(error, "elements nested deeper than 500");
}

TEST(ItunesXmlReaderTest, HugeMarkupIsRefusedAndHugeTextStreams) {
  // A comment of 20 MB is one token Expat would have to hold whole.
  std::string error;
  GeneratedSource comment("<plist><!--", 'x', 20u << 20, "--></plist>");
  EXPECT_FALSE(CheckWellFormed(comment, &error));
  EXPECT_NE(error.find("markup longer than"), std::string::npos) << error;
  // 20 MB of text in one element reads through in pieces.
  GeneratedSource text("<plist><string>", 'x', 20u << 20, "</string></plist>");
  ItunesXmlReader reader(text);
  XmlElement e;
  ASSERT_TRUE(reader.NextChild(0, &e));
  ASSERT_TRUE(reader.NextChild(1, &e));
  EXPECT_TRUE(e.text_cut);
  EXPECT_EQ(e.text.size(), kMaxXmlTextBytes);
  EXPECT_TRUE(reader.Finish());
}

TEST(ItunesXmlReaderTest, FinishCanBeStopped) {
  GeneratedSource text("<plist><string>", 'x', 4u << 20, "</string></plist>");
  ItunesXmlReader reader(text);
  int asked = 0;
  EXPECT_FALSE(reader.Finish([&] { return ++asked == 3; }));
  EXPECT_TRUE(reader.stopped());
  EXPECT_FALSE(reader.failed());
}

// Records a scanner's events, adjacent text pieces joined.
class EventLog : public XmlEventSink {
 public:
  void OnStart(std::string_view name) override { events.push_back("<" + std::string(name)); }
  void OnEnd() override { events.push_back(">"); }
  void OnText(std::string_view text) override {
    if (events.empty() || events.back()[0] != 'T') events.push_back("T");
    events.back().append(text);
  }
  void OnBreak() override { events.push_back("!"); }
  std::vector<std::string> events;
};

// The second, plain reading of a checked document against the Expat
// reading, on the markup whose reading differs most easily.
TEST(ItunesXmlReaderTest, PlainReadingOfACheckedDocumentMatchesExpat) {
  std::string euros;
  for (std::size_t i = 0; i < kMaxXmlTextBytes / 3 + 2; ++i) euros += "\xE2\x82\xAC";
  const std::string doctype =
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://x/a>b.dtd\">";
  const std::vector<std::string> documents = {
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" + doctype +
          "<plist version=\"1.0\"><dict>\r\n"
          "<key>A &amp; B &lt;&gt;&apos;&quot;</key><string> lead\r\nx\ry\r\r\n</string>\n"
          "<key><![CDATA[<raw>\r\n]x]]y]>z]]]]></key><key>   </key><key></key><true/>\n"
          "<key><!-- first -->after</key><key>text<!-- - -->more</key>\n"
          "<!-- -><key>no</key> --><key>a<?pi x?>b</key>\n"
          "<key>&#38;&#x26;&#233;&#x20AC;&#x1F600;&#13;&#10;</key><key>&skipped;x</key>\n"
          "<dict>t<key a='>/' b=\"'\">inner</key ></dict><K\xC3\xA9y/>"
          "<array><dict><key>deep<!----></key><a><b><c>deeper</c></b></a></dict></array>\n"
          "</dict></plist>\n<!-- after -->",
      "\xEF\xBB\xBF<plist><string>" + std::string(kXmlChunkBytes + 100, 'x') + "</string><key>x" +
          euros + "</key></plist>",
  };
  for (const std::string& xml : documents) {
    platform::MemorySource checked_source(xml);
    XmlDocumentPrint print;
    std::string error;
    ASSERT_TRUE(CheckWellFormed(checked_source, &error, {}, &print)) << error;
    ASSERT_TRUE(print.plain);
    platform::MemorySource source(xml);
    ItunesXmlReader plain(source, 5, &print);
    std::vector<std::string> out;
    Walk(plain, 0, &out);
    EXPECT_FALSE(plain.failed()) << plain.error();
    EXPECT_EQ(out, WalkAll(xml));

    // The scanner alone gives the same events however the bytes are split.
    EventLog whole;
    PlainXmlScanner(whole).Feed(xml);
    EventLog split;
    PlainXmlScanner scanner(split);
    for (std::size_t at = 0; at < xml.size(); at += 1 + at % 5)
      scanner.Feed(xml.substr(at, 1 + at % 5));
    EXPECT_EQ(split.events, whole.events);
  }

  // Documents the scanner does not read the way Expat does are read by
  // Expat again.
  for (const std::string& xml :
       std::vector<std::string>{"<!DOCTYPE a [<!ATTLIST a b CDATA 'c'>]><a/>",
                                "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xE9</a>",
                                std::string("<\0a\0/\0>\0", 8), " <a/>"}) {
    platform::MemorySource source(xml);
    XmlDocumentPrint print;
    std::string error;
    EXPECT_TRUE(CheckWellFormed(source, &error, {}, &print)) << error;
    EXPECT_FALSE(print.plain) << xml;
  }

  // A file that changed since its check is not read on.
  const std::string before = "<plist><key>" + std::string(kXmlChunkBytes, 'a') + "</key></plist>";
  std::string after = before;
  after[kXmlChunkBytes + 5] = 'b';
  platform::MemorySource checked_source(before);
  XmlDocumentPrint print;
  ASSERT_TRUE(CheckWellFormed(checked_source, nullptr, {}, &print));
  for (const std::string& changed : {after, before + " ", before.substr(0, kXmlChunkBytes)}) {
    platform::MemorySource source(changed);
    ItunesXmlReader reader(source, 5, &print);
    XmlElement e;
    while (reader.NextChild(0, &e) || reader.NextChild(1, &e)) {
    }
    EXPECT_TRUE(reader.failed());
    EXPECT_EQ(reader.error(), "the file changed while it was read");
  }
}

}  // namespace
