// KivDB: one user's connection to the local media database kivclient.db.
//
// The file, its header image, the index from path to record position and
// the list of free slots are process-wide: Initialise builds them at
// start-up (loading the index and repairing the file when its header
// disagrees with its records) and Shutdown drops them. Every user (each
// agent, the user interface) creates its own KivDB, which opens its own
// handle on the file and keeps its own iteration cursor, and destroys it
// when done.
//
// Thread safety: one process-wide recursive lock serialises every
// operation, so any number of threads may each use their own KivDB at the
// same time. A single KivDB object belongs to one thread at a time. The
// static count accessors take no lock and may be called from any thread.
//
// Operations return a success flag (or a position, 0 = none) and log every
// failure; none throws. Paths are UTF-8 and keyed through PathKey.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/db_events.h"
#include "db/db_format.h"
#include "platform/clock.h"
#include "platform/file_handle.h"
#include "platform/file_info.h"
#include "platform/win_types.h"

// What the engine keeps in memory of every record: the fields that passes
// over the whole database select on. A pass that gives a SummaryTest reads
// only the records whose summary passes it, instead of every record.
struct RecordSummary {
  std::uint32_t flags = 0;         // DBFLAG_*; without DBFLAG_VALID an empty slot
  bool has_kiv_id = false;         // the kiv id is not 0
  bool played = false;             // the play count is not 0
  std::int64_t file_modified = 0;  // the file's last write as the record has it
};

class KivDB {
 public:
  // Opens this object's handle (_openDB). An object whose open failed stays
  // usable as an object, but every operation fails its readiness check.
  KivDB();
  // Writes the header image, flushes and closes the handle.
  ~KivDB();
  KivDB(const KivDB&) = delete;
  KivDB& operator=(const KivDB&) = delete;

  // Sets the database path (the DBPath setting when it names an existing
  // folder, else kivclient.db in the data folder), opens or creates the
  // file and loads the index, repairing the file when needed. `clock`
  // supplies "now" for record times and must outlive the engine. Called
  // once by start-up, before other threads use the database.
  static BOOL Initialise(platform::Clock& clock = platform::SystemClock());
  // Drops the index and the free list. Objects still alive fail every
  // later operation.
  static void Shutdown();

  // Counts for the status page: 0 when the engine is not initialised.
  static DWORD ValidCount();
  static DWORD EmptyCount();
  static DWORD IdentifiedCount();
  static DWORD KivIdCount();
  // Stored time ("now" convention) of the last successful add / delete.
  static std::int64_t LastAddTime();
  static std::int64_t LastDeleteTime();
  // Records added since the process started, by any connection, and loads
  // of the index (a load may give a path a record it lacked): a caller that
  // sees only its own adds counted knows no other path got a record.
  static std::uint64_t AddCount();
  static bool IsInitialised();
  // True from a failed write of the file (a full disk, a folder gone
  // read-only) until writes succeed again.
  static bool WritesFailing();
  // Full path of the database file (empty before Initialise).
  static std::string DatabasePath();
  // Receiver of count changes (the main window); null for none. The sink
  // must outlive its registration.
  static void SetEventSink(DbEventSink* sink);

  // Readiness: the engine is initialised and this object's file is open.
  // Logs why not.
  BOOL IsReady();
  // Opens the file for this object if it is not open yet.
  BOOL _openDB();

  // Position of the record of `path`, or 0.
  std::uint32_t LookupEntry(const std::string& path);
  // LookupEntry for each of `paths` into `positions` (same order), under one
  // hold of the lock and with the index's memory fetched ahead: the files
  // of one folder wait for memory together rather than one after another.
  void LookupEntries(const std::vector<std::string_view>& paths,
                     std::vector<std::uint32_t>* positions);
  // Reads the record of `path` into `entry`.
  BOOL GetEntry(const std::string& path, DBEntry* entry);
  // Iteration over the records in file order: the next valid record (any
  // record with `include_invalid`) from this object's cursor on. Returns
  // its position, or 0 at the end or on a damaged record. `entry` may be
  // null.
  std::uint32_t GetFirstEntry(DBEntry* entry, BOOL include_invalid);
  std::uint32_t GetNextEntry(DBEntry* entry, BOOL include_invalid);
  // The same over the valid records whose summary `worth_reading` accepts:
  // the others are passed over without being read. The test must accept
  // every record the caller's own test of the full record may accept, and
  // must be quick (it runs under the database lock).
  using SummaryTest = std::function<bool(const RecordSummary& summary)>;
  std::uint32_t GetFirstEntry(DBEntry* entry, const SummaryTest& worth_reading);
  std::uint32_t GetNextEntry(DBEntry* entry, const SummaryTest& worth_reading);
  // How many valid records `test` accepts, from their summaries, leaving
  // out the records at the positions in `except` (sorted). Counts up to the
  // first damaged record, where a pass would end.
  DWORD CountWhere(const SummaryTest& test, const std::vector<std::uint32_t>& except = {});
  // Up to `max` records read in one block from position `from` on (0:
  // from the first record), the valid ones appended to `found` in file
  // order: a pass over every record without a read per record. Returns the
  // position to continue from, or 0 once the records end or a record is
  // damaged (both logged as GetNextEntry logs them).
  using PositionedEntries = std::vector<std::pair<std::uint32_t, DBEntry>>;
  std::uint32_t GetEntryBlock(std::uint32_t from, std::size_t max, PositionedEntries* found);
  // The positions and records of every record directly inside a folder
  // that `wanted` accepts, in file order. `wanted` is asked once about
  // each folder that holds records (a record's path up to its last '/',
  // "/" for a file at the root) and runs under the database lock, so it
  // must be quick; only the chosen records are read. FALSE when the
  // database is not ready or a record could not be read (the others are
  // returned).
  using FolderTest = std::function<bool(std::string_view folder)>;
  // The summaries of up to `max` slots from position `from` on (0: from
  // the first record), the valid ones appended to `found` with their
  // positions, from memory: a pass that decides from the summaries which
  // records it needs at all. A slot whose summary is not known is read.
  // Returns the position to continue from, or 0 once the slots end or a
  // record that had to be read could not be.
  using PositionedSummaries = std::vector<std::pair<std::uint32_t, RecordSummary>>;
  std::uint32_t GetSummaryBlock(std::uint32_t from, std::size_t max, PositionedSummaries* found);
  BOOL GetEntriesIn(const FolderTest& wanted, PositionedEntries* found);
  // How many valid records in a folder `wanted` accepts have a summary
  // `test` accepts, from the folders and the summaries in memory alone (no
  // file handle, no read; a record whose last write failed is not
  // counted). Both tests run under the database lock. With `busy` given, a
  // lock held elsewhere is not waited for: 0 is returned and `*busy` set.
  static DWORD CountInFolders(const FolderTest& wanted, const SummaryTest& test,
                              bool* busy = nullptr);

  // Adds a record (DBFLAG_VALID is set in `entry`); reuses the oldest free
  // slot before growing the file. Refuses duplicates and files below
  // kDbMinFileSize bytes.
  BOOL AddEntry(DBEntry* entry);
  // Builds a fresh record from the file's properties and adds it.
  BOOL AddEntry(const std::string& path);
  // The same from properties the caller already took (a directory walk's),
  // sparing a second look at the file; `file.path` names it.
  BOOL AddEntry(const platform::FileInfo& file);
  // AddEntry(file) for each of `files`, with the records that extend the
  // database file written in one write. `added` receives whether each file
  // was added, in order. A caller that knew none of the paths had a record
  // when AddCount() was `none_recorded_at` passes it: while the count is
  // still that, the paths are not looked for in the index (only compared
  // with each other).
  void AddEntries(const std::vector<platform::FileInfo>& files, std::vector<bool>* added,
                  std::optional<std::uint64_t> none_recorded_at = std::nullopt);
  // AddEntry(entry) for each of `entries` (DBFLAG_VALID is set in each),
  // the same way: the records that extend the file written in one write.
  void AddEntries(std::vector<DBEntry>* entries, std::vector<bool>* added);
  // Overwrites the record of entry->path; with `touch` its modified time
  // becomes now. Only for a record built whole by its caller: a change to
  // some fields of a stored record goes through ModifyEntry.
  BOOL UpdateEntry(DBEntry* entry, BOOL touch);
  // A change to one stored record: receives the record as it is on disk,
  // changes what it concerns and returns true to have it written, false to
  // leave the record as it is. It runs under the database lock, so it must
  // be quick and must not wait for another thread that may use the engine.
  using EntryChange = std::function<bool(DBEntry& entry)>;
  // Reads the record of `path`, applies `change` and writes the result, all
  // under one hold of the database lock: no other writer's change can land
  // between the read and the write and be lost. When written with `touch`
  // the modified time becomes now (as UpdateEntry). The change may not move
  // the record to another path or clear DBFLAG_VALID (DeleteEntry frees a
  // record); such a result is refused and nothing is written. Fails when
  // the path has no record or the record cannot be read or written; a
  // change that declines to write succeeds.
  BOOL ModifyEntry(const std::string& path, const EntryChange& change, BOOL touch = FALSE);
  // The engine's "now" as a stored time, for a change that sets a time
  // field itself (0 before Initialise).
  static std::int64_t StoredNow();
  // Refreshes size and file times from a file found by a directory search,
  // or deletes the record of a file that has become too small.
  BOOL UpdateEntry(const platform::FileInfo& file);
  // Empties the record of `path`; a path without a record succeeds.
  BOOL DeleteEntry(const std::string& path);
  // Fills the tag fields of `entry` from the file at its path: empty fields
  // only, or every field the file has a value for with `overwrite`.
  // S_OK when the tags could be read, else E_FAIL.
  HRESULT GetTagEntry(DBEntry* entry, BOOL overwrite);

  // Pushes this object's writes to the storage device.
  BOOL Flush();
  // Length of the database file, or -1.
  std::int64_t GetLength();

 private:
  // _openDB with the database lock held; a failure's message box waits in
  // the engine's state until the lock is released.
  BOOL OpenLocked();
  // Initialise with the database lock held.
  static BOOL InitialiseLocked(platform::Clock& clock);
  // Writes the process-wide header image at position 0.
  BOOL WriteHeader();
  // Closes the handle after writing the header image and flushing.
  void CloseFile();
  // Reads the record at `pos` into `entry`; false on a short read or a
  // read error (`*failed`, when given, tells which). The caller logs.
  bool ReadRecord(std::uint32_t pos, DBEntry* entry, std::size_t* got, bool* failed = nullptr);
  // ReadRecord for a pass in file order: records come from a block read
  // ahead while no record was written since.
  bool ReadRecordAhead(std::uint32_t pos, DBEntry* entry, std::size_t* got, bool* failed);
  // Reads up to `max` records from `pos` into the read-ahead window in one
  // read; `*got` is the bytes read. False on a read error.
  bool FillAhead(std::uint32_t pos, std::size_t max, std::size_t* got);
  BOOL LoadIndex();
  // True when the records at the two positions hold the same path.
  bool SamePath(std::uint32_t earlier, std::uint32_t later);
  BOOL Repair();
  // Writes `entry` over `old_entry` at `pos` and keeps the counts true.
  // Called with the lock held; `path` is for the log.
  BOOL WriteOver(std::uint32_t pos, const DBEntry& old_entry, const DBEntry& entry,
                 const std::string& path);
  // Position of the indexed record of `path`, 0 when none (logged with
  // `operation`), as FindIndexed finds it (`*record`, `*checked`). Called
  // with the lock held.
  std::uint32_t FindForWrite(const std::string& path, const char* operation, DBEntry* record,
                             bool* checked);
  // Position of the record of `path` in the index, 0 when none, with the
  // lock held. The index keeps hashes, so the path is checked on the record
  // (read into `*record`; `*checked` tells whether that read gave a whole,
  // valid record of the path). A record that cannot be read is taken on the
  // index's word and left to the caller's own read to report.
  std::uint32_t FindIndexed(const std::string& path, DBEntry* record, bool* checked);
  // The engine's bookkeeping after the record `entry` of path key `key`
  // (hashed `wide` for the index) was written at `pos`, a free slot's
  // (`reused`) or the file's end, at `now`.
  void NoteAdded(std::uint32_t pos, const DBEntry& entry, std::string_view key, std::uint64_t wide,
                 bool reused, std::int64_t now);
  // After adds: writes the header when the last write is a second old.
  BOOL AddedHeader();
  // The end of a batch add: writes `appended` (records of the path keys
  // `keys`, hashed `wides`, for the items `which` of the batch) at the
  // file's end in one write, records by record when that fails; marks what
  // was stored in `added`.
  void AppendEntries(std::vector<DBEntry>& appended, const std::vector<std::string_view>& keys,
                     const std::vector<std::uint64_t>& wides, const std::vector<std::size_t>& which,
                     std::int64_t now, std::vector<bool>* added);
  // Counter update from the record on disk to the one replacing it.
  void UpdateCounters(const DBEntry& old_entry, const DBEntry& new_entry);

  // The errno of the last failed write: the cause that kept the handle
  // read-only, when it is (a write on it fails only for that reason).
  int WriteErrno() const { return read_only_error_ != 0 ? read_only_error_ : file_.last_errno(); }

  platform::FileHandle file_;
  // Not 0 when the file could only be opened for reading: why it could not
  // be opened for writing (EROFS, EACCES).
  int read_only_error_ = 0;
  std::uint32_t cursor_ = 0;
  // The read-ahead of GetNextEntry and GetEntryBlock: `ahead_count_` whole
  // records from `ahead_from_`, read at write generation `ahead_generation_`.
  std::vector<DBEntry> ahead_;
  std::uint32_t ahead_from_ = 0;
  std::size_t ahead_count_ = 0;
  std::uint64_t ahead_generation_ = 0;
};
