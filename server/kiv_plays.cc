// The play methods: PlayedWide (one play as it happens) and HistoryWide
// (the play history of a track), with the record updates their answers
// ask for.
#include <memory>

#include "app/format.h"
#include "app/log.h"
#include "db/kiv_db.h"
#include "server/kiv_protocol.h"
#include "server/xmlrpc_call.h"

using kiv_rpc::Members;
using kiv_rpc::ResultStruct;

namespace {

constexpr int kReturnAlias = 2;
constexpr int kReturnNotFound = 11;
constexpr int kReturnNotFoundToo = 9999;
constexpr int kReturnRetryLater = 13;

// The log texts of one method.
struct PlayTexts {
  const char* alias;
  const char* not_found;
  const char* retry;
};

constexpr PlayTexts kPlayedTexts{
    "Send play request returned kiv_id (%d) was alias. Setting kiv_id to %d",
    "Send play request returned kiv_id (%d) not found. Resetting kiv_id for",
    "Send playing request returned '%d' for kivid '%lld'"};
constexpr PlayTexts kHistoryTexts{
    "Send history request returned kiv_id (%d) was alias. Setting kiv_id to %d",
    "Send history request returned kiv_id (%d) not found. Resetting kiv_id for",
    "Send history request returned '%d' for kivid '%lld'"};

struct PlayAnswer {
  int return_code = 0;
  int response_message_id = 0;
  int kiv_id = 0;
  std::string kiv_id_wide;
};

// The answer members; the alias members only when the answer is an alias.
void ReadPlayAnswer(const xmlrpc_c::value& result, PlayAnswer* answer) {
  ResultStruct members(result);
  members.Int("status_flag");
  answer->return_code = members.Int("return_code");
  answer->response_message_id = members.Int("response_message_id");
  members.String("message");
  if (answer->return_code == kReturnAlias || answer->response_message_id == kReturnAlias) {
    answer->kiv_id = members.Int("kiv_id");
    answer->kiv_id_wide = members.String("kiv_id_wide");
  }
}

std::int32_t Low32(std::uint64_t id) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(id));
}

// Applies `change` to the record of `path` as it is stored now: the copy
// sent was taken before the call, and other agents may have changed the
// record while the server answered.
void ChangeStored(KivDB* db, const std::string& path, const KivDB::EntryChange& change,
                  BOOL touch) {
  std::unique_ptr<KivDB> own;
  if (!db) {
    own = std::make_unique<KivDB>();
    db = own.get();
  }
  db->ModifyEntry(path, change, touch);
}

// The answer's effect on the record, tested in this order: alias (which
// wins over every other code), retry later, not found. Each changes the
// copy sent and, on the stored record, only the fields it concerns; an
// identifier answer applies only while the record still holds the
// identifier that was sent.
int HandlePlayAnswer(const PlayAnswer& answer, DBEntry* record, KivDB* db, const PlayTexts& texts) {
  const std::string path = EntryPath(*record);
  const std::uint64_t sent_id = record->kiv_id;
  if (answer.return_code == kReturnAlias || answer.response_message_id == kReturnAlias) {
    if (answer.kiv_id == 0 && answer.kiv_id_wide.empty()) return 1;
    std::int64_t new_id = 0;
    if (!answer.kiv_id_wide.empty()) new_id = kiv_rpc::ParsePositiveId(answer.kiv_id_wide);
    if (new_id == 0 && answer.kiv_id > 0) new_id = answer.kiv_id;
    AppLog().LogDetail(StrFormat(texts.alias, Low32(record->kiv_id), answer.kiv_id), path,
                       LEVEL_WARNING, MODULE_CLIENT_SERVER);
    if (new_id == 0) {
      // Neither member holds a usable identifier: the record keeps its own
      // rather than take a number that names no track.
      AppLog().LogDetail(StrFormat("Alias answer without a usable kiv id ('%s', %d); kiv_id kept",
                                   answer.kiv_id_wide.c_str(), answer.kiv_id),
                         path, LEVEL_ERROR, MODULE_CLIENT_SERVER);
      return 1;
    }
    record->kiv_id = static_cast<std::uint64_t>(new_id);
    ChangeStored(
        db, path,
        [&](DBEntry& e) {
          if (e.kiv_id != sent_id) return false;
          e.kiv_id = static_cast<std::uint64_t>(new_id);
          return true;
        },
        FALSE);
    return 1;
  }
  if (answer.return_code == kReturnRetryLater) {
    AppLog().LogDetail(
        StrFormat(texts.retry, answer.return_code, static_cast<long long>(record->kiv_id)), path,
        LEVEL_WARNING, MODULE_CLIENT_SERVER);
    record->flags |= DBFLAG_PLAYEDRETRY;
    ChangeStored(
        db, path,
        [](DBEntry& e) {
          e.flags |= DBFLAG_PLAYEDRETRY;
          return true;
        },
        FALSE);
    return 0;
  }
  if (answer.return_code == kReturnNotFound || answer.return_code == kReturnNotFoundToo) {
    AppLog().LogDetail(StrFormat(texts.not_found, Low32(record->kiv_id)), path, LEVEL_WARNING,
                       MODULE_CLIENT_SERVER);
    const auto forget = [](DBEntry& e) {
      e.flags &= ~DBFLAG_REPORTED;
      e.kiv_id = 0;
      e.reported = 0;
    };
    forget(*record);
    ChangeStored(
        db, path,
        [&](DBEntry& e) {
          if (e.kiv_id != sent_id) return false;
          forget(e);
          return true;
        },
        TRUE);
    return 0;
  }
  return 1;
}

std::string IdText(std::uint64_t kiv_id) { return std::to_string(kiv_id); }

}  // namespace

int SendNowPlayingRequest(DBEntry* record, KivDB* db) {
  if (!record || record->kiv_id == 0) {
    AppLog().Log("Can't send now playing request - no KIV id", LEVEL_WARNING, MODULE_CLIENT_SERVER);
    return 0;
  }
  PlayAnswer answer;
  const std::string id = IdText(record->kiv_id);
  const bool answered = kiv_rpc::RunCall(
      "PlayedWide",
      [&](xmlrpc_c::paramList& params, kiv_rpc::CallSecrets& secrets) {
        params.add(kiv_rpc::AuthParams(secrets));
        params.add(xmlrpc_c::value_string(id));
      },
      [&](const xmlrpc_c::value& result) { ReadPlayAnswer(result, &answer); });
  if (!answered) return -1;
  return HandlePlayAnswer(answer, record, db, kPlayedTexts);
}

int SendHistoryRequest(DBEntry* record, KivDB* db) {
  if (!record) return 0;
  const std::string path = EntryPath(*record);
  if (record->play_count <= 0) {
    AppLog().LogDetail("Can't send history request - play count is 0", path, LEVEL_ERROR,
                       MODULE_CLIENT_SERVER);
    return 0;
  }
  if (record->date_added == 0 || record->played == 0) {
    AppLog().LogDetail("Can't send history request - play dates are 0", path, LEVEL_ERROR,
                       MODULE_CLIENT_SERVER);
    return 0;
  }
  if (record->kiv_id == 0) return 0;
  std::int32_t play_count = record->play_count;
  // The play that DBFLAG_PLAYED marks is still to be sent by PlayedWide.
  if ((record->flags & DBFLAG_PLAYED) && play_count > 1) --play_count;
  const std::string first_played = TimeText(record->date_added);
  const std::string last_played = TimeText(record->played);
  PlayAnswer answer;
  const std::string id = IdText(record->kiv_id);
  const bool answered = kiv_rpc::RunCall(
      "HistoryWide",
      [&](xmlrpc_c::paramList& params, kiv_rpc::CallSecrets& secrets) {
        params.add(kiv_rpc::AuthParams(secrets));
        params.add(xmlrpc_c::value_string(id));
        Members history;
        history["first_played"] = xmlrpc_c::value_string(first_played);
        history["last_played"] = xmlrpc_c::value_string(last_played);
        history["play_count"] = xmlrpc_c::value_int(play_count);
        params.add(xmlrpc_c::value_struct(history));
      },
      [&](const xmlrpc_c::value& result) { ReadPlayAnswer(result, &answer); });
  if (!answered) return -1;
  return HandlePlayAnswer(answer, record, db, kHistoryTexts);
}
