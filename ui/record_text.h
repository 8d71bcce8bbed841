// The database tester's texts: the summary of the database, the display of
// one record, and the changes its buttons make to a record. Plain
// functions, so they can be checked without a window.
//
// Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/db_format.h"

// "0" for 0; otherwise the local time in the format of string 182, or ""
// when the time has no local calendar time.
std::string StoredTimeText(std::int64_t stored_time);

// "Entries: %d   Free: %d\r\nSupported Extensions:\r\n%s", the extensions
// joined with ":".
std::string SummaryText(DWORD entries, DWORD free_slots,
                        const std::vector<std::string>& extensions);

// The record display of the file at `path`: `entry` null for a file
// without a record ("Not In Database").
std::string RecordText(const std::string& path, const DBEntry* entry);

// The flag names of the set flags, each followed by CR LF, in display order.
std::string FlagNames(DWORD flags);

enum class TesterChange { kPlay, kHistory, kSend, kDelete };

// Applies one button's change to `entry`; `now` is a stored time.
void ApplyTesterChange(DBEntry& entry, TesterChange change, std::int64_t now);
