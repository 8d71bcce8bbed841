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
#include <utility>

#include "app/format.h"
#include "platform/text.h"

namespace {

XML_Parser AsParser(void* parser) { return static_cast<XML_Parser>(parser); }

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

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
    ItunesXmlReader& self = Mark(data);
    if (self.failed_) return;
    self.FlushPending();
    if (++self.depth_ > kMaxXmlDepth) {
      Stop(self, StrFormat("elements nested deeper than %d", kMaxXmlDepth));
      return;
    }
    if (self.depth_ > self.report_depth_) return;
    self.has_pending_ = true;
    self.pending_text_closed_ = false;
    self.pending_.name.assign(name);
    self.pending_.text.clear();
    self.pending_.has_text = false;
    self.pending_.text_cut = false;
    self.pending_.depth = self.depth_;
  }

  static void End(void* data, const XML_Char* /*name*/) {
    ItunesXmlReader& self = Mark(data);
    if (self.failed_) return;
    self.FlushPending();
    if (self.depth_ <= self.report_depth_) {
      Event& event = self.PushEvent();
      event.is_end = true;
      event.element.depth = self.depth_;
    }
    --self.depth_;
  }

  static void Text(void* data, const XML_Char* text, int length) {
    ItunesXmlReader& self = Mark(data);
    if (!self.has_pending_ || self.pending_text_closed_ || self.pending_.text_cut) return;
    std::string& kept = self.pending_.text;
    const std::string_view piece(text, static_cast<std::size_t>(length));
    const std::size_t room = kMaxXmlTextBytes - kept.size();
    if (piece.size() <= room) {
      kept.append(piece);
      return;
    }
    // Cut between characters: what is kept stays valid UTF-8.
    self.pending_.text_cut = true;
    kept.append(platform::Utf8Prefix(piece, room));
  }

  // A comment or processing instruction ends the text that may stand
  // first; before any text it is itself the first child, and then the
  // element has no text.
  static void Comment(void* data, const XML_Char* /*text*/) {
    ItunesXmlReader& self = Mark(data);
    if (self.has_pending_) self.pending_text_closed_ = true;
  }
  static void Instruction(void* data, const XML_Char* /*target*/, const XML_Char* /*text*/) {
    Comment(data, nullptr);
  }

  static void EntityDecl(void* data, const XML_Char* /*name*/, int /*parameter*/,
                         const XML_Char* /*value*/, int /*length*/, const XML_Char* /*base*/,
                         const XML_Char* /*system_id*/, const XML_Char* /*public_id*/,
                         const XML_Char* /*notation*/) {
    Stop(Mark(data), "entity declarations are not allowed");
  }

  static void Default(void* data, const XML_Char* /*text*/, int /*length*/) { Mark(data); }
};

ItunesXmlReader::ItunesXmlReader(platform::ByteSource& source, int report_depth)
    : source_(source), report_depth_(report_depth), chunk_(kXmlChunkBytes) {
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
  std::swap(element, pending_);
  element.has_text =
      std::any_of(element.text.begin(), element.text.end(), [](char c) { return !IsXmlSpace(c); });
  if (!element.has_text) element.text.clear();
}

bool ItunesXmlReader::Fill() {
  if (at_end_ || failed_) return false;
  const long n = source_.Read(chunk_.data(), chunk_.size());
  if (n < 0) {
    Fail("the file could not be read");
    return false;
  }
  const bool final = n == 0;
  XML_Parser parser = AsParser(parser_);
  if (XML_Parse(parser, chunk_.data(), static_cast<int>(n), final) != XML_STATUS_OK) {
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
      std::swap(*out, event.element);
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
                     const std::function<bool()>& stop) {
  ItunesXmlReader reader(source, 0);
  const bool ok = reader.Finish(stop);
  if (error) *error = ok ? std::string() : reader.error();
  return ok;
}
