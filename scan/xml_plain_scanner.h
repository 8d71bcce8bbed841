// A plain scanner for XML documents that Expat has already found
// well-formed (the very same bytes): UTF-8 without a byte order mark, no
// internal DTD subset. On such a document it reports the events the Expat
// reading reports, in the same order and with the same text, several times
// faster: it skips what Expat checks and only splits the bytes into tags,
// text, comments and the like.
//
// Text is reported as Expat reports character data: line ends normalised
// to "\n", CDATA content as text, the five predefined entities and
// character references decoded, references to entities the document does
// not declare left out (Expat skips them when an external DTD may declare
// them; otherwise the document was not well-formed). Comments and
// processing instructions are reported as breaks.
//
// On any other input it stays memory-safe, but its events mean nothing.
// Thread safety: one scanner belongs to one thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The code point of a character reference's digits ("x" first for
// hexadecimal); false for no digits, a character that is not a digit, or a
// value above U+10FFFF.
bool CharacterCode(std::string_view digits, std::uint32_t* code);

class XmlEventSink {
 public:
  virtual ~XmlEventSink() = default;
  virtual void OnStart(std::string_view name) = 0;
  virtual void OnEnd() = 0;
  // A piece of character data; a character may be split across pieces.
  virtual void OnText(std::string_view text) = 0;
  // A comment or processing instruction.
  virtual void OnBreak() = 0;
};

class PlainXmlScanner {
 public:
  explicit PlainXmlScanner(XmlEventSink& sink) : sink_(sink) {}

  // The document's next bytes, split anywhere.
  void Feed(std::string_view bytes);

 private:
  enum class State {
    kText,
    kTagOpen,     // after '<'
    kStartName,   // in the name of a start tag
    kAttributes,  // after a start tag's name
    kEmptyClose,  // after the '/' of an empty-element tag
    kEndTag,
    kBang,  // after "<!"
    kComment,
    kCData,
    kDoctype,
    kInstruction,
    kReference,  // after '&'
  };

  void Reference();

  XmlEventSink& sink_;
  State state_ = State::kText;
  std::string token_;  // the name, reference or "<!" keyword being read
  char quote_ = 0;     // the quote an attribute or literal is open with
  int marks_ = 0;      // '-' or ']' seen in a row; '?' just seen
  bool subset_ = false;
  bool skip_lf_ = false;  // a "\r" was reported as "\n"; a "\n" next is its
};
