#include "musicid/component/library_run.h"

#include <taglib/fileref.h>
#include <taglib/tfilestream.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <new>
#include <set>

namespace cddb_component {
namespace {

class FingerprintReceiver : public CddbObject<ICddbFingerprintReceiver, IID_ICddbUnknown> {
 public:
  HRESULT SetFingerprint(const char* fingerprint) override {
    if (fingerprint == nullptr) return E_POINTER;
    value = fingerprint;
    return S_OK;
  }
  std::string value;
};

class FileInfoReceiver : public CddbObject<ICddbFileInfoReceiver, IID_ICddbUnknown> {
 public:
  HRESULT SetFileInfo(ICddbFileTag* tag) override {
    if (tag == nullptr) return E_POINTER;
    value = CddbPtr<ICddbFileTag>::Share(tag);
    return S_OK;
  }
  CddbPtr<ICddbFileTag> value;
};

std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

long FileSeconds(const std::string& path) {
  TagLib::FileStream stream(path.c_str(), true);
  if (!stream.isOpen()) return 0;
  TagLib::FileRef file(&stream, true, TagLib::AudioProperties::Fast);
  if (file.isNull() || file.audioProperties() == nullptr) return 0;
  return file.audioProperties()->lengthInSeconds();
}

}  // namespace

LibraryRun::LibraryRun(ICddbMusicIDEvents* events, RunSettings settings, LookupClient& client,
                       const std::atomic<bool>& stop,
                       std::function<Fingerprinter*()> last_fingerprinter)
    : events_(events),
      settings_(std::move(settings)),
      client_(client),
      stop_(stop),
      last_fingerprinter_(std::move(last_fingerprinter)) {}

void LibraryRun::Status(long code, const std::string& item, long current) {
  long cancel = 0;
  events_->OnTrackIDStatusUpdate(code, item.c_str(), current, counts_.total, &cancel);
  if (cancel) cancelled_ = true;
}

bool LibraryRun::QueryItem(ListItem& item, std::vector<LookupCandidate>* candidates,
                           long* local_track) {
  const std::string& path = item.path();
  Status(kCddbStatusAnalyzingWaveForm, path, current_);
  long cancel = 0;
  CddbPtr<FingerprintReceiver> print =
      CddbPtr<FingerprintReceiver>::Adopt(new FingerprintReceiver());
  events_->OnGetFingerprint(path.c_str(), print.get(), &cancel);
  CddbPtr<FileInfoReceiver> info = CddbPtr<FileInfoReceiver>::Adopt(new FileInfoReceiver());
  events_->OnGetFileInfo(path.c_str(), info.get());
  if (info->value) {
    std::string track;
    info->value->GetText(CddbField::kTrackNumber, &track);
    *local_track = std::strtol(track.c_str(), nullptr, 10);
  }
  if (cancel || stop_) cancelled_ = true;
  if (cancelled_) return false;
  if (print->value.empty()) {
    item.set_code(kCddbMatchError);
    return true;
  }
  if (!settings_.network) {
    failure_ = CDDBSTATUS_SERVICE_UNAVAILABLE;
    return false;
  }
  LookupRequest request = settings_.request;
  request.fingerprint = print->value;
  // The decoder's stream information first: the fingerprinter itself
  // stops listening after two minutes.
  Fingerprinter* last = last_fingerprinter_ ? last_fingerprinter_() : nullptr;
  request.duration = last ? last->stream_seconds() : 0;
  if (request.duration <= 0) request.duration = FileSeconds(path);
  if (request.duration <= 0 && last) request.duration = last->seconds();
  Status(kCddbStatusQuerying, path, current_);
  LookupAnswer answer = client_.Lookup(request, [this] {
    long cancel = 0;
    if (!stop_ && !cancelled_) events_->OnCancelCheck(&cancel);
    if (cancel) cancelled_ = true;
    return stop_ || cancelled_;
  });
  if (stop_ || cancelled_) return false;  // stopped while asking: no answer to report
  Status(kCddbStatusQueried, path, current_);
  switch (answer.outcome) {
    case LookupAnswer::Outcome::kOk:
      *candidates = std::move(answer.candidates);
      item.set_code(kCddbMatchNone);
      break;
    case LookupAnswer::Outcome::kFileError:
      item.set_code(kCddbMatchError);
      break;
    case LookupAnswer::Outcome::kUnavailable:
      failure_ = CDDBSTATUS_SERVICE_UNAVAILABLE;
      retry_after_ = answer.retry_after;
      return false;
    case LookupAnswer::Outcome::kKeyRefused:
      failure_ = CDDBSTATUS_CLIENT_KEY_REFUSED;
      return false;
  }
  return !cancelled_ && !stop_;
}

void LibraryRun::ChooseMatches(ResultList& list,
                               const std::vector<std::vector<LookupCandidate>>& found,
                               const std::vector<long>& local_tracks) {
  // How many files of the list each release group would take.
  std::map<std::string, int> votes;
  for (const auto& candidates : found) {
    std::set<std::string> groups;
    for (const LookupCandidate& c : candidates)
      if (c.score >= kMinMatchScore && !c.group_id.empty()) groups.insert(c.group_id);
    for (const std::string& g : groups) ++votes[g];
  }
  for (std::size_t i = 0; i < list.items.size(); ++i) {
    ListItem& item = *list.items[i];
    const LookupCandidate* best = nullptr;
    std::set<std::string> recordings;
    for (const LookupCandidate& c : found[i]) {
      if (c.score < kMinMatchScore) continue;
      recordings.insert(c.recording_id);
      auto rank = [&](const LookupCandidate& x) {
        auto v = votes.find(x.group_id);
        return std::make_pair(v == votes.end() ? 0 : v->second, x.score);
      };
      if (best == nullptr || rank(c) > rank(*best)) best = &c;
    }
    if (best == nullptr) continue;
    double top = 0;
    for (const LookupCandidate& c : found[i]) top = std::max(top, c.score);
    const long code = top >= kExactMatchScore ? kCddbMatchExact
                      : recordings.size() > 1 ? kCddbMatchMultiple
                                              : kCddbMatchFuzzy;
    const long number = local_tracks[i] > 0 ? local_tracks[i] : 1;
    CddbPtr<AlbumResult> album = CddbPtr<AlbumResult>::Adopt(new AlbumResult());
    album->fields.Set(CddbField::kArtist, best->album_artist);
    album->fields.Set(CddbField::kAlbum, best->album);
    CddbPtr<TrackResult> track = CddbPtr<TrackResult>::Adopt(new TrackResult());
    track->fields.Set(CddbField::kArtist, best->artist);
    track->fields.Set(CddbField::kAlbum, best->album);
    track->fields.Set(CddbField::kTitle, best->title);
    track->fields.Set(CddbField::kExtra1, best->type);
    track->fields.Set(CddbField::kExtra2,
                      std::to_string(static_cast<int>(std::lround(best->score * 100))));
    track->fields.Set(CddbField::kExtra3, best->secondary);
    track->fields.Set(CddbField::kGnId, best->recording_id);
    if (local_tracks[i] > 0) track->fields.Set(CddbField::kTrackNumber, std::to_string(number));
    album->PutTrack(number, track);
    // Several recordings fit: the item carries the album only, and the
    // receiver builds the track result from it.
    item.SetMatch(album, number, code == kCddbMatchMultiple ? CddbPtr<TrackResult>() : track);
    item.set_code(code);
  }
}

HRESULT LibraryRun::Run(const std::vector<std::string>& files) {
  std::vector<std::string> folders;
  std::map<std::string, std::vector<std::string>> by_folder;
  for (const std::string& file : files) {
    const std::string folder = Folder(file);
    if (!by_folder.count(folder)) folders.push_back(folder);
    by_folder[folder].push_back(file);
  }
  counts_ = CddbListCounts{};
  counts_.total = static_cast<long>(files.size());

  for (const std::string& folder : folders) {
    CddbPtr<ResultList> list = CddbPtr<ResultList>::Adopt(new ResultList());
    for (const std::string& file : by_folder[folder])
      list->items.push_back(CddbPtr<ListItem>::Adopt(new ListItem(file)));
    events_->OnLibraryIDListStarted(list.get(), counts_);

    const std::size_t n = list->items.size();
    std::vector<std::vector<LookupCandidate>> found(n);
    std::vector<long> local_tracks(n, 0);
    bool went_on = true;
    for (std::size_t i = 0; i < n && went_on; ++i) {
      current_ = counts_.complete + static_cast<long>(i) + 1;
      went_on = QueryItem(*list->items[i], &found[i], &local_tracks[i]);
    }
    if (cancelled_ || stop_) return S_OK;

    Status(kCddbStatusProcessing, folder, current_);
    ChooseMatches(*list, found, local_tracks);
    Status(kCddbStatusProcessed, folder, current_);
    for (const auto& item : list->items) {
      switch (item->code()) {
        case kCddbMatchExact:
          ++counts_.exact;
          break;
        case kCddbMatchFuzzy:
        case kCddbMatchMultiple:
          ++counts_.fuzzy;
          break;
        case kCddbMatchNone:
          ++counts_.nomatch;
          break;
        default:
          ++counts_.error;
          break;
      }
    }
    counts_.complete += static_cast<long>(n);
    long cancel = 0;
    events_->OnLibraryIDListComplete(list.get(), counts_, &cancel);
    if (FAILED(failure_)) return failure_;
    if (cancel || cancelled_ || stop_) return S_OK;
  }
  events_->OnLibraryIDComplete(counts_);
  return S_OK;
}

}  // namespace cddb_component
