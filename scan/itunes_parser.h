// The streaming reader of the iTunes library file: Expat underneath, read
// in chunks, so memory stays flat whatever the library's size. It hands
// out the document's elements in document order, each with its name and
// the text of its first child, the way a document tree would show them,
// and lets the caller walk the children of any element it holds without
// building the tree: one track's dict is assembled at a time.
//
// Bytes come from a platform::ByteSource (a buffer in tests and the fuzzer, the file
// for the agent). Input is untrusted: entity declarations are refused (a
// property list never has any, and this shuts out entity expansion
// attacks; Expat's own amplification limit stays on besides), elements may
// nest at most kMaxXmlDepth deep, and a single piece of markup (tag,
// comment, declaration) may not exceed kMaxXmlTokenBytes. Each of these
// ends the parse as not well-formed.
//
// A second reading of a document already checked (see XmlDocumentPrint)
// goes without Expat when the document allows it: the plain scanner hands
// out the same elements from the same bytes, and every block read is first
// compared with what the check saw. The check itself goes without Expat for
// a document of the simple form most libraries have (QuickCheckWellFormed).
//
// Thread safety: one reader belongs to one thread; readers are independent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_source.h"
#include "scan/xml_plain_scanner.h"

inline constexpr int kMaxXmlDepth = 500;
inline constexpr std::size_t kMaxXmlTokenBytes = 16u << 20;
// Text kept of one element; longer text is cut (and marked as cut).
inline constexpr std::size_t kMaxXmlTextBytes = 16u << 10;
// Bytes handed to Expat at a time; also the block of a document print.
inline constexpr std::size_t kXmlChunkBytes = 64u << 10;

// One element as the walk meets it.
struct XmlElement {
  std::string name;
  // The element's first child when that is text (character data, CDATA
  // and entities up to the first child element, comment or processing
  // instruction); empty when it has none or the text is all white space.
  std::string text;
  bool has_text = false;
  bool text_cut = false;  // longer than kMaxXmlTextBytes
  int depth = 0;          // 1 for the root element
};

// What a check of a document saw, for reading the same file again: a digest
// of each block of kXmlChunkBytes bytes (the last may be shorter), and
// whether the plain scanner reads it as Expat does (UTF-8, no byte order
// mark other than UTF-8's, no internal DTD subset).
struct XmlDocumentPrint {
  std::vector<std::uint64_t> blocks;
  bool plain = false;
};

// Makes a print's block digests from a document's bytes, split anywhere.
class XmlPrintMaker {
 public:
  explicit XmlPrintMaker(XmlDocumentPrint* print) : print_(print) {}
  void Add(std::string_view bytes);
  // After the last bytes: the last, shorter block.
  void End();
  // The document's first four bytes (fewer in a shorter one).
  std::string_view head() const { return head_; }

 private:
  XmlDocumentPrint* print_;
  std::string block_;  // the block not yet digested
  std::string head_;
};

class ItunesXmlReader : private XmlEventSink {
 public:
  // `report_depth`: elements deeper than this are never handed out (their
  // content is only checked), which keeps the walk cheap. `checked`: what
  // the check of this document saw (kept alive by the caller); with a plain
  // document the bytes are read with the plain scanner, and a block that
  // differs from the checked one ends the reading as failed.
  explicit ItunesXmlReader(platform::ByteSource& source, int report_depth = 5,
                           const XmlDocumentPrint* checked = nullptr);
  ~ItunesXmlReader();
  ItunesXmlReader(const ItunesXmlReader&) = delete;
  ItunesXmlReader& operator=(const ItunesXmlReader&) = delete;

  // The next element whose parent is at `parent_depth` (0: the document,
  // which yields the root element), skipping whatever lies deeper. False
  // once that parent has ended (the end is consumed, so the next call with
  // the grandparent's depth goes on with the parent's next sibling), at the
  // end of the document, and on any error (see failed()).
  bool NextChild(int parent_depth, XmlElement* out);

  // Reads the rest of the document, handing nothing out; true when it was
  // well-formed to its end. `stop` (may be empty) is asked before every
  // chunk; when it answers true the read ends with false and stopped().
  bool Finish(const std::function<bool()>& stop = {});

  // The document was found not well-formed, could not be read, or broke a
  // limit. The walk ends at the point of failure.
  bool failed() const { return failed_; }
  bool stopped() const { return stopped_; }
  // What went wrong, with the line number: "not well-formed (invalid
  // token) at line 3".
  const std::string& error() const { return error_; }

 private:
  struct Event {
    bool is_end = false;
    XmlElement element;  // name/text only for starts; depth for both
  };
  struct Callbacks;
  friend bool CheckWellFormed(platform::ByteSource& source, std::string* error,
                              const std::function<bool()>& stop, XmlDocumentPrint* print);

  // Parses one more chunk; false at the end of input or on failure.
  bool Fill();
  bool FillPlain();
  void Fail(std::string message);
  // The events of either reading.
  void OnStart(std::string_view name) override;
  void OnEnd() override;
  void OnText(std::string_view text) override;
  void OnBreak() override;
  // The innermost open element's start, handed out once its first child
  // starts or it ends.
  void FlushPending();
  Event& PushEvent();

  platform::ByteSource& source_;
  const int report_depth_;
  void* parser_ = nullptr;  // XML_Parser; null for the plain reading
  const XmlDocumentPrint* checked_ = nullptr;
  std::unique_ptr<PlainXmlScanner> plain_;
  std::size_t block_index_ = 0;
  // The check's findings: the print being made, the document's declared
  // encoding and internal subset.
  std::unique_ptr<XmlPrintMaker> print_;
  bool foreign_encoding_ = false;
  bool internal_subset_ = false;
  std::vector<char> chunk_;    // the plain reading's block
  std::vector<Event> events_;  // slots reused to keep their strings' memory
  std::size_t event_count_ = 0;
  std::size_t event_head_ = 0;

  int depth_ = 0;
  bool has_pending_ = false;  // the element at depth_ has not been handed out
  bool pending_text_closed_ = false;
  XmlElement pending_;
  std::uint64_t bytes_fed_ = 0;
  std::int64_t last_event_offset_ = 0;
  bool at_end_ = false;
  bool failed_ = false;
  bool stopped_ = false;
  std::string error_;
};

// Reads the whole document from `source` and tells whether it is
// well-formed within the reader's limits; `error` receives the reason.
// `stop` as for Finish.
// `print` (may be null) receives what the check saw, for a second reading.
bool CheckWellFormed(platform::ByteSource& source, std::string* error,
                     const std::function<bool()>& stop = {}, XmlDocumentPrint* print = nullptr);

enum class QuickCheck { kProven, kInDoubt, kStopped };

// The quick check (see PlainXmlCheck) of the whole document from `source`:
// proven fills `print` as CheckWellFormed does for a plain document. In
// doubt (a document of another form, a fault, a read error) leaves the
// verdict to CheckWellFormed. `stop` as for Finish.
QuickCheck QuickCheckWellFormed(platform::ByteSource& source, const std::function<bool()>& stop,
                                XmlDocumentPrint* print);
