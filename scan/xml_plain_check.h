// A quick proof that a document is well-formed, for the common case of a
// library in order. It reads only a narrow, simple form of XML: UTF-8 (a
// byte order mark, then '<'), an XML declaration of version 1.0 in UTF-8,
// a document type with an external identifier and no internal subset,
// ASCII names without colons, attribute values without references, the
// five predefined entities and character references, comments, processing
// instructions and CDATA sections, no control characters (C0 other than
// white space, DEL, C1), nesting up to kMaxXmlDepth and markup up to
// kMaxPlainMarkupBytes.
//
// Anything else, and every fault, leaves the document in doubt: the caller
// then lets Expat decide, with Expat's verdict and message. What it proves
// well-formed Expat reads as well-formed too, and the plain scanner reads
// it as Expat does.
//
// Thread safety: one check belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The longest piece of markup (tag, comment, declaration) the check reads;
// a longer one is left to Expat.
inline constexpr std::size_t kMaxPlainMarkupBytes = 1u << 20;

class PlainXmlCheck {
 public:
  // The document's next bytes, split anywhere; false once in doubt (more
  // bytes change nothing then).
  bool Feed(std::string_view bytes);
  // The end of the document: true when everything fed is proven a
  // well-formed document of the simple form.
  bool End();

 private:
  enum class Place { kStart, kProlog, kContent, kEpilog };
  // A piece read whole, cut off by the end of the bytes, or in doubt.
  enum class Step { kDone, kMore, kDoubt };

  // Reads as far as whole pieces go; returns the bytes read. A piece cut
  // off at the end is left for the next call. Each reader below starts at
  // the piece's first byte and, when done, moves `p` past it.
  std::size_t Run(const char* begin, const char* end);
  Step Reference(const char*& p, const char* end);
  Step Markup(const char*& p, const char* end);
  Step StartTag(const char*& p, const char* end);
  Step EndTag(const char*& p, const char* end);
  Step Comment(const char*& p, const char* end);
  Step CData(const char*& p, const char* end);
  Step Instruction(const char*& p, const char* end);
  Step Declaration(const char*& p, const char* end);
  Step DocumentType(const char*& p, const char* end);
  static Step Match(const char* p, const char* end, std::string_view literal);
  static Step Name(const char*& q, const char* end);
  static Step CharsUntil(const char*& q, const char* end, std::string_view close);
  static Step Equals(const char*& q, const char* end);
  static Step Quoted(const char*& q, const char* end, std::string_view* value);
  bool Open(std::string_view name);
  void Close();
  // Keeps the bytes of a piece cut off for the next call.
  void Keep(std::string_view rest);

  Place place_ = Place::kStart;
  bool doubt_ = false;
  bool bom_seen_ = false;  // the start was looked at for a byte order mark
  bool doctype_seen_ = false;
  // Bytes of a piece cut off by the end of the last Feed, and the size at
  // which they are read again.
  std::string carry_;
  std::size_t retry_at_ = 0;
  // The open elements' names, one after the other.
  std::string open_names_;
  std::vector<std::uint32_t> open_sizes_;
};
