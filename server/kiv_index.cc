// The indexing methods (IndexStart, IndexBatch, IndexStop) and the server's
// pacing values (RateLimit, BatchSize).
#include <cmath>
#include <stdexcept>
#include <vector>

#include "app/format.h"
#include "app/log.h"
#include "app/string_table.h"
#include "server/kiv_protocol.h"
#include "server/xmlrpc_call.h"

using kiv_rpc::Members;
using kiv_rpc::ResultStruct;

namespace {

void AddText(Members& members, const char* name, const std::string& text) {
  if (!text.empty()) members[name] = xmlrpc_c::value_string(text);
}

void AddNumber(Members& members, const char* name, std::int32_t number) {
  if (number != 0) members[name] = xmlrpc_c::value_int(number);
}

// The tag struct of one record: only the fields that hold something.
xmlrpc_c::value TagStruct(const DBEntry& entry) {
  Members tags;
  AddText(tags, "file_type", EntryText(entry.file_type));
  AddText(tags, "gn_id", EntryText(entry.gn_id));
  AddText(tags, "title", EntryText(entry.title));
  AddText(tags, "lead_artist", EntryText(entry.artist));
  AddText(tags, "album", EntryText(entry.album));
  AddText(tags, "genre", EntryText(entry.genre));
  AddText(tags, "label", EntryText(entry.label));
  AddNumber(tags, "duration", entry.duration);
  AddNumber(tags, "sample_rate", entry.sample_rate);
  AddNumber(tags, "sample_size", entry.sample_size);
  AddNumber(tags, "beats_per_minute", entry.beats_per_minute);
  AddNumber(tags, "track_position", entry.track_number);
  return xmlrpc_c::value_struct(tags);
}

xmlrpc_c::value EntryStruct(const BatchIndexData_t& element) {
  const bool authoritative = element.gracenote.match_quality == 1;
  Members qos;
  qos["album_unsure"] = xmlrpc_c::value_boolean(!authoritative);
  qos["is_authoritative"] = xmlrpc_c::value_boolean(authoritative);
  qos["is_final"] = xmlrpc_c::value_boolean(true);
  Members attributes;
  attributes["file_type"] = xmlrpc_c::value_string(EntryText(element.user.file_type));
  attributes["gracenote_tags"] = TagStruct(element.gracenote);
  attributes["user_tags"] = TagStruct(element.user);
  Members entry;
  entry["gracenote_qos"] = xmlrpc_c::value_struct(qos);
  entry["song_attributes"] = xmlrpc_c::value_struct(attributes);
  return xmlrpc_c::value_struct(entry);
}

// Hands the numbers of `kiv_ids` to the elements in order. Empty fields
// count for nothing; a field that is not a positive 64-bit number keeps
// its element at 0 (not accepted) and is logged.
void AssignKivIds(const std::string& kiv_ids, BatchIndexData_t* elements, int n) {
  int next = 0;
  std::size_t start = 0;
  while (start <= kiv_ids.size() && next < n) {
    std::size_t comma = kiv_ids.find(',', start);
    if (comma == std::string::npos) comma = kiv_ids.size();
    const std::string field = kiv_ids.substr(start, comma - start);
    start = comma + 1;
    if (field.empty()) continue;
    const std::int64_t id = kiv_rpc::ParsePositiveId(field);
    if (id == 0)
      AppLog().LogDetail(
          StrFormat("SendIndexBatchRequest: kiv id %d of the answer is not usable", next + 1),
          field, LEVEL_WARNING, MODULE_CLIENT_SERVER);
    elements[next++].kiv_id = id;
  }
}

// The shared answer of IndexStart, IndexBatch and IndexStop.
struct IndexAnswer {
  int status_flag = 0;
  int return_code = 0;
  int response_message_id = 0;
  void Read(const ResultStruct& answer) {
    status_flag = answer.Int("status_flag");
    return_code = answer.Int("return_code");
    response_message_id = answer.Int("response_message_id");
  }
};

}  // namespace

std::string TimeText(std::int64_t stored_time) {
  std::tm tm{};
  if (!platform::TryLocalTime(static_cast<std::time_t>(stored_time), &tm)) return {};
  char buffer[64];
  const std::size_t n =
      std::strftime(buffer, sizeof buffer, LoadStringResource(IDS_TIME_TEXT_FORMAT), &tm);
  return std::string(buffer, n);
}

int SendIndexStartRequest(int count, platform::Clock& clock) {
  IndexAnswer answer;
  const std::string now = TimeText(platform::NowAsStoredTime(clock.WallTime()));
  const bool answered = kiv_rpc::RunCall(
      "IndexStart",
      [&](xmlrpc_c::paramList& params, kiv_rpc::CallSecrets& secrets) {
        params.add(kiv_rpc::AuthParams(secrets));
        params.add(xmlrpc_c::value_int(count));
        params.add(xmlrpc_c::value_string(now));
      },
      [&](const xmlrpc_c::value& result) { answer.Read(ResultStruct(result)); });
  if (!answered) return -1;
  return answer.return_code == 0 ? 1 : 0;
}

int SendIndexBatchRequest(BatchIndexData_t* elements, int n) {
  if (!elements || n <= 0) return 0;
  IndexAnswer answer;
  std::string kiv_ids;
  const bool answered = kiv_rpc::RunCall(
      "IndexBatch",
      [&](xmlrpc_c::paramList& params, kiv_rpc::CallSecrets& secrets) {
        params.add(kiv_rpc::AuthParams(secrets));
        std::vector<xmlrpc_c::value> entries;
        entries.reserve(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) entries.push_back(EntryStruct(elements[i]));
        params.add(xmlrpc_c::value_array(entries));
      },
      [&](const xmlrpc_c::value& result) {
        ResultStruct members(result);
        answer.Read(members);
        kiv_ids = members.String("kiv_ids");
      });
  if (!answered) return -1;
  if (answer.return_code != 0) return 0;
  AssignKivIds(kiv_ids, elements, n);
  return 1;
}

int SendIndexStopRequest() {
  IndexAnswer answer;
  const bool answered = kiv_rpc::RunCall(
      "IndexStop",
      [&](xmlrpc_c::paramList& params, kiv_rpc::CallSecrets& secrets) {
        params.add(kiv_rpc::AuthParams(secrets));
      },
      [&](const xmlrpc_c::value& result) { answer.Read(ResultStruct(result)); });
  if (!answered) return -1;
  return answer.return_code == 0 ? 1 : 0;
}

int GetRateLimit(double* seconds) {
  double value = 0;
  const bool answered = kiv_rpc::RunCall(
      "RateLimit", [](xmlrpc_c::paramList&, kiv_rpc::CallSecrets&) {},
      [&](const xmlrpc_c::value& result) {
        if (result.type() != xmlrpc_c::value::TYPE_DOUBLE)
          throw std::runtime_error("result is not a double");
        value = xmlrpc_c::value_double(result).cvalue();
        if (!std::isfinite(value)) throw std::runtime_error("result is not a finite number");
      });
  if (!answered) return 0;
  *seconds = value;
  return 1;
}

int GetBatchSize(int* count) {
  int value = 0;
  const bool answered = kiv_rpc::RunCall(
      "BatchSize", [](xmlrpc_c::paramList&, kiv_rpc::CallSecrets&) {},
      [&](const xmlrpc_c::value& result) {
        if (result.type() != xmlrpc_c::value::TYPE_INT)
          throw std::runtime_error("result is not an int");
        value = xmlrpc_c::value_int(result).cvalue();
      });
  if (!answered) return 0;
  *count = value;
  return 1;
}
