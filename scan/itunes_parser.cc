#include "scan/itunes_parser.h"

// The system's Expat is built with DTD support (and so with its entity
// amplification limit); the header declares that limit's setters only
// when told so.
#ifndef XML_DTD
#define XML_DTD 1
#endif
#include <expat.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>
#include <utility>

#include "app/format.h"
#include "platform/text.h"
#include "scan/xml_plain_check.h"

namespace {

XML_Parser AsParser(void* parser) { return static_cast<XML_Parser>(parser); }

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && platform::AsciiLower(a) == platform::AsciiLower(b);
}

std::uint64_t BlockDigest(std::string_view block) { return std::hash<std::string_view>{}(block); }

// Copies `from` into `to`; both keep their strings' memory for reuse, and
// the texts are short, so a copy costs less than swapping strings.
void Take(XmlElement& to, const XmlElement& from) {
  to.name.assign(from.name);
  to.text.assign(from.text);
  to.has_text = from.has_text;
  to.text_cut = from.text_cut;
  to.depth = from.depth;
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace

// Expat's handlers; `data` is the reader.
struct ItunesXmlReader::Callbacks {
  static ItunesXmlReader& Self(void* data) { return *static_cast<ItunesXmlReader*>(data); }

  // Every handler notes where its event began: a long stretch of input
  // without any event is one piece of markup that Expat has to hold whole.
  static ItunesXmlReader& Mark(void* data) {
    ItunesXmlReader& self = Self(data);
    const XML_Index offset = XML_GetCurrentByteIndex(AsParser(self.parser_));
    if (offset >= 0) self.last_event_offset_ = offset;
    return self;
  }

  static void Stop(ItunesXmlReader& self, std::string message) {
    self.Fail(std::move(message));
    XML_StopParser(AsParser(self.parser_), XML_FALSE);
  }

  static void Start(void* data, const XML_Char* name, const XML_Char** /*attributes*/) {
    Mark(data).OnStart(name);
  }
  static void End(void* data, const XML_Char* /*name*/) { Mark(data).OnEnd(); }
  static void Text(void* data, const XML_Char* text, int length) {
    Mark(data).OnText(std::string_view(text, static_cast<std::size_t>(length)));
  }
  static void Comment(void* data, const XML_Char* /*text*/) { Mark(data).OnBreak(); }
  static void Instruction(void* data, const XML_Char* /*target*/, const XML_Char* /*text*/) {
    Mark(data).OnBreak();
  }

  // What decides whether the plain scanner may read the document again.
  static void Declaration(void* data, const XML_Char* /*version*/, const XML_Char* encoding,
                          int /*standalone*/) {
    ItunesXmlReader& self = Mark(data);
    if (encoding && !EqualsIgnoringCase(encoding, "UTF-8")) self.foreign_encoding_ = true;
  }
  static void Doctype(void* data, const XML_Char* /*name*/, const XML_Char* /*system_id*/,
                      const XML_Char* /*public_id*/, int has_internal_subset) {
    ItunesXmlReader& self = Mark(data);
    if (has_internal_subset) self.internal_subset_ = true;
  }

  static void EntityDecl(void* data, const XML_Char* /*name*/, int /*parameter*/,
                         const XML_Char* /*value*/, int /*length*/, const XML_Char* /*base*/,
                         const XML_Char* /*system_id*/, const XML_Char* /*public_id*/,
                         const XML_Char* /*notation*/) {
    Stop(Mark(data), "entity declarations are not allowed");
  }

  static void Default(void* data, const XML_Char* /*text*/, int /*length*/) { Mark(data); }
};

ItunesXmlReader::ItunesXmlReader(platform::ByteSource& source, int report_depth,
                                 const XmlDocumentPrint* checked)
    : source_(source), report_depth_(report_depth) {
  if (checked && checked->plain) {
    checked_ = checked;
    chunk_.resize(kXmlChunkBytes);
    plain_ = std::make_unique<PlainXmlScanner>(static_cast<XmlEventSink&>(*this));
    return;
  }
  XML_Parser parser = XML_ParserCreate(nullptr);
  parser_ = parser;
  if (!parser) {
    Fail("cannot create the XML parser");
    return;
  }
  XML_SetUserData(parser, this);
  XML_SetElementHandler(parser, Callbacks::Start, Callbacks::End);
  XML_SetCharacterDataHandler(parser, Callbacks::Text);
  XML_SetCommentHandler(parser, Callbacks::Comment);
  XML_SetProcessingInstructionHandler(parser, Callbacks::Instruction);
  XML_SetEntityDeclHandler(parser, Callbacks::EntityDecl);
  XML_SetXmlDeclHandler(parser, Callbacks::Declaration);
  XML_SetStartDoctypeDeclHandler(parser, Callbacks::Doctype);
  XML_SetDefaultHandlerExpand(parser, Callbacks::Default);
  XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
#if XML_MAJOR_VERSION > 2 || (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION >= 4)
  // Expat's defaults, stated so that they stay on whatever the build.
  XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser, 100.0f);
  XML_SetBillionLaughsAttackProtectionActivationThreshold(parser, 8u << 20);
#endif
}

ItunesXmlReader::~ItunesXmlReader() {
  if (parser_) XML_ParserFree(AsParser(parser_));
}

void ItunesXmlReader::Fail(std::string message) {
  if (failed_) return;
  failed_ = true;
  error_ = std::move(message);
}

void ItunesXmlReader::OnStart(std::string_view name) {
  if (failed_) return;
  FlushPending();
  if (++depth_ > kMaxXmlDepth) {
    std::string message = StrFormat("elements nested deeper than %d", kMaxXmlDepth);
    if (parser_) {
      Callbacks::Stop(*this, std::move(message));
    } else {
      Fail(std::move(message));
    }
    return;
  }
  if (depth_ > report_depth_) return;
  has_pending_ = true;
  pending_text_closed_ = false;
  pending_.name.assign(name);
  pending_.text.clear();
  pending_.has_text = false;
  pending_.text_cut = false;
  pending_.depth = depth_;
}

void ItunesXmlReader::OnEnd() {
  if (failed_) return;
  FlushPending();
  if (depth_ <= report_depth_) {
    Event& event = PushEvent();
    event.is_end = true;
    event.element.depth = depth_;
  }
  --depth_;
}

void ItunesXmlReader::OnText(std::string_view piece) {
  if (!has_pending_ || pending_text_closed_ || pending_.text_cut) return;
  std::string& kept = pending_.text;
  const std::size_t room = kMaxXmlTextBytes - kept.size();
  if (piece.size() <= room) {
    kept.append(piece);
    return;
  }
  // Cut between characters, so that what is kept stays valid UTF-8: the
  // byte after the room shows where the last whole character ends.
  pending_.text_cut = true;
  kept.append(piece.substr(0, room + 1));
  kept.resize(platform::Utf8Prefix(kept, kMaxXmlTextBytes).size());
}

// A comment or processing instruction ends the text that may stand first;
// before any text it is itself the first child, and then the element has
// no text.
void ItunesXmlReader::OnBreak() {
  if (has_pending_) pending_text_closed_ = true;
}

void XmlPrintMaker::Add(std::string_view bytes) {
  if (head_.size() < 4) head_.append(bytes.substr(0, 4 - head_.size()));
  while (!bytes.empty()) {
    const std::string_view part = bytes.substr(0, kXmlChunkBytes - block_.size());
    bytes.remove_prefix(part.size());
    if (block_.empty() && part.size() == kXmlChunkBytes) {
      print_->blocks.push_back(BlockDigest(part));
      continue;
    }
    block_.append(part);
    if (block_.size() == kXmlChunkBytes) {
      print_->blocks.push_back(BlockDigest(block_));
      block_.clear();
    }
  }
}

void XmlPrintMaker::End() {
  if (!block_.empty()) print_->blocks.push_back(BlockDigest(block_));
  block_.clear();
}

ItunesXmlReader::Event& ItunesXmlReader::PushEvent() {
  if (event_count_ == events_.size()) events_.emplace_back();
  Event& event = events_[event_count_++];
  event.is_end = false;
  return event;
}

void ItunesXmlReader::FlushPending() {
  if (!has_pending_) return;
  has_pending_ = false;
  XmlElement& element = PushEvent().element;
  Take(element, pending_);
  element.has_text =
      std::any_of(element.text.begin(), element.text.end(), [](char c) { return !IsXmlSpace(c); });
  if (!element.has_text) element.text.clear();
}

bool ItunesXmlReader::Fill() {
  if (at_end_ || failed_) return false;
  if (plain_) return FillPlain();
  XML_Parser parser = AsParser(parser_);
  // Read straight into Expat's buffer, which saves copying every chunk.
  char* buffer = static_cast<char*>(XML_GetBuffer(parser, static_cast<int>(kXmlChunkBytes)));
  if (!buffer) {
    Fail("out of memory");
    return false;
  }
  const long n = source_.Read(buffer, kXmlChunkBytes);
  if (n < 0) {
    Fail("the file could not be read");
    return false;
  }
  if (print_) print_->Add(std::string_view(buffer, static_cast<std::size_t>(n)));
  const bool final = n == 0;
  if (XML_ParseBuffer(parser, static_cast<int>(n), final) != XML_STATUS_OK) {
    Fail(StrFormat("%s at line %lu", XML_ErrorString(XML_GetErrorCode(parser)),
                   static_cast<unsigned long>(XML_GetCurrentLineNumber(parser))));
    return false;
  }
  bytes_fed_ += static_cast<std::uint64_t>(n);
  if (bytes_fed_ - static_cast<std::uint64_t>(last_event_offset_) > kMaxXmlTokenBytes) {
    Fail(StrFormat("markup longer than %zu bytes at line %lu", kMaxXmlTokenBytes,
                   static_cast<unsigned long>(XML_GetCurrentLineNumber(parser))));
    return false;
  }
  at_end_ = final;
  return true;
}

bool ItunesXmlReader::FillPlain() {
  // One whole block, as the check digested it.
  std::size_t size = 0;
  while (size < chunk_.size()) {
    const long n = source_.Read(chunk_.data() + size, chunk_.size() - size);
    if (n < 0) {
      Fail("the file could not be read");
      return false;
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  const std::vector<std::uint64_t>& blocks = checked_->blocks;
  std::string_view block(chunk_.data(), size);
  const bool same =
      size == 0 ? block_index_ == blocks.size()
                : block_index_ < blocks.size() && BlockDigest(block) == blocks[block_index_];
  if (!same) {
    Fail("the file changed while it was read");
    return false;
  }
  if (size == 0) {
    at_end_ = true;
    return true;
  }
  if (block_index_++ == 0 && block.substr(0, kUtf8Bom.size()) == kUtf8Bom)
    block.remove_prefix(kUtf8Bom.size());
  plain_->Feed(block);
  return true;
}

bool ItunesXmlReader::NextChild(int parent_depth, XmlElement* out) {
  for (;;) {
    if (failed_) return false;
    if (event_head_ == event_count_) {
      event_head_ = event_count_ = 0;
      if (!Fill()) return false;
      continue;
    }
    Event& event = events_[event_head_];
    const int depth = event.element.depth;
    if (event.is_end) {
      if (depth < parent_depth) return false;
      ++event_head_;
      if (depth == parent_depth) return false;
      continue;
    }
    // A start at or above the parent's level: that parent has ended.
    if (depth <= parent_depth) return false;
    ++event_head_;
    if (depth == parent_depth + 1) {
      Take(*out, event.element);
      return true;
    }
  }
}

bool ItunesXmlReader::Finish(const std::function<bool()>& stop) {
  for (;;) {
    event_head_ = event_count_ = 0;
    if (at_end_ || failed_) break;
    if (stop && stop()) {
      stopped_ = true;
      return false;
    }
    Fill();
  }
  return !failed_;
}

bool CheckWellFormed(platform::ByteSource& source, std::string* error,
                     const std::function<bool()>& stop, XmlDocumentPrint* print) {
  ItunesXmlReader reader(source, 0);
  if (print) {
    *print = XmlDocumentPrint();
    reader.print_ = std::make_unique<XmlPrintMaker>(print);
  }
  const bool ok = reader.Finish(stop);
  if (error) *error = ok ? std::string() : reader.error();
  if (ok && print) {
    reader.print_->End();
    // Expat reads a document without a byte order mark or declared
    // encoding as UTF-8 only when it starts with '<' and a byte that is not
    // 0 (which would mean UTF-16).
    const std::string_view head = reader.print_->head();
    const bool utf8_start = head.substr(0, kUtf8Bom.size()) == kUtf8Bom ||
                            (head.size() >= 2 && head[0] == '<' && head[1] != 0);
    print->plain = utf8_start && !reader.foreign_encoding_ && !reader.internal_subset_;
  }
  return ok;
}

QuickCheck QuickCheckWellFormed(platform::ByteSource& source, const std::function<bool()>& stop,
                                XmlDocumentPrint* print) {
  *print = XmlDocumentPrint();
  XmlPrintMaker maker(print);
  PlainXmlCheck check;
  std::vector<char> chunk(kXmlChunkBytes);
  for (;;) {
    if (stop && stop()) return QuickCheck::kStopped;
    const long n = source.Read(chunk.data(), chunk.size());
    if (n < 0) return QuickCheck::kInDoubt;
    if (n == 0) break;
    const std::string_view bytes(chunk.data(), static_cast<std::size_t>(n));
    maker.Add(bytes);
    if (!check.Feed(bytes)) return QuickCheck::kInDoubt;
  }
  if (!check.End()) return QuickCheck::kInDoubt;
  maker.End();
  print->plain = true;
  return QuickCheck::kProven;
}
