// The KIV server's XML-RPC methods, one client operation each. Every
// operation enters ServerCallLock, creates a fresh xmlrpc-c client whose
// curl transport sends exactly GetUserAgent(), reads GetServerUrl(), calls
// the method synchronously and reads the answer; nothing survives the call.
//
// Results are small integers: above 0 done, 0 refused by the server, below
// 0 no answer. Every library error (transport, HTTP status, fault, a result
// of the wrong shape or a member of the wrong type) is caught in the
// operation, logged as "XML-RPC exception in <method>: <text>" and turned
// into the operation's error value; a member that is absent reads as 0 or
// the empty string.
//
// 64-bit identifiers travel as decimal strings and times as text
// (TimeText); struct members go out in ascending byte order of their names.
//
// Threads: any thread; calls are serialised by ServerCallLock and block the
// caller until the answer, the transport's error or its time limit.
#pragma once

#include <cstdint>
#include <string>

#include "db/db_format.h"
#include "platform/clock.h"

class KivDB;

// One element of an IndexBatch call (the transmit agent fills a zeroed
// array of them).
struct BatchIndexData_t {
  // The identified track's record, or a blank record with only the path and
  // file type for a track that is not identified.
  DBEntry gracenote;
  // A full record whose tag fields hold the tags read from the file.
  DBEntry user;
  // The database record to update after the call (not owned).
  DBEntry* record;
  // The server's identifier for the track; 0 until one arrives.
  std::int64_t kiv_id;
};

// The "%Y-%m-%dT%H:%M:%SZ" text of the local calendar time of a stored
// time (the Z is literal: stored times already carry the UTC fields);
// empty when the value has no local time.
std::string TimeText(std::int64_t stored_time);

// Signs in with a browser's login token. When the answer holds both a user
// name and a client password they are written to the Username and Password
// settings and AuthState becomes 0; otherwise AuthState becomes -2.
// Returns 1 after any answer, -1 on an error.
int AuthenticateByToken(const std::string& user_id, const std::string& token);

// Exchanges the user's own password for a client password. 0 when the
// answer holds both a user name and a client password (the client password
// in `*client_password`); -2 when either is empty; -3 on an error. With
// `set_state` non-zero the 0 or -2 is also stored in AuthState. Writes no
// settings.
int AuthenticateByPassword(const std::string& username, const std::string& password,
                           std::string* client_password, int set_state);

// 0 when the server accepts the user name and client password (status_flag
// 1 and return_code 0), -2 when it does not, -3 on an error.
int ValidateAuthentication(const std::string& username, const std::string& password);

// IndexStart with `count` entries to come and the current time of `clock`.
// 1 when return_code is 0, else 0; -1 on an error.
int SendIndexStartRequest(int count, platform::Clock& clock = platform::SystemClock());

// IndexBatch with the first `n` elements. On return_code 0 the identifiers
// of `kiv_ids` go to the elements in order (an element without one, or
// with one that is not a positive 64-bit number, keeps 0) and 1 is
// returned; else 0; -1 on an error; 0 without a call when `elements` is
// null or n is not positive.
int SendIndexBatchRequest(BatchIndexData_t* elements, int n);

// IndexStop. 1 when return_code is 0, else 0; -1 on an error.
int SendIndexStopRequest();

// PlayedWide for one play of `record` (which must have a kiv id). An alias
// answer replaces the record's kiv id, "not found" resets it and clears
// DBFLAG_REPORTED, "retry later" sets DBFLAG_PLAYEDRETRY; each change is
// written to the database through `db` (a connection of the caller's, or
// a temporary one when null). Returns 1 when the play was taken (alias or
// any other code), 0 for not found, retry later or no kiv id, -1 on an
// error.
int SendNowPlayingRequest(DBEntry* record, KivDB* db = nullptr);

// HistoryWide: the record's date added, last play and play count (one less
// while DBFLAG_PLAYED marks a play still to be sent by PlayedWide). The
// answer is handled as PlayedWide's. 0 without a call when the record has
// no play count, no dates or no kiv id.
int SendHistoryRequest(DBEntry* record, KivDB* db = nullptr);

// The minimum seconds between two IndexBatch calls. 1 with the value in
// `*seconds`; 0 on an error (also for a value that is not a finite
// number), `*seconds` untouched.
int GetRateLimit(double* seconds);

// The elements per IndexBatch call. 1 with the value in `*count`; 0 on an
// error, `*count` untouched.
int GetBatchSize(int* count);
