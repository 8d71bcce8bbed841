#include "musicid/component/results.h"

namespace cddb_component {

namespace {

template <class I, class T>
HRESULT HandOut(const CddbPtr<T>& object, I** out) {
  if (out == nullptr) return E_POINTER;
  *out = object.get();
  if (!object) return S_FALSE;
  object->AddRef();
  return S_OK;
}

}  // namespace

HRESULT AlbumResult::GetTrackNumber(long* number) {
  if (number == nullptr) return E_POINTER;
  *number = track_number_;
  return S_OK;
}

HRESULT AlbumResult::GetTrack(long number, ICddbTrackResult** track) {
  if (track == nullptr) return E_POINTER;
  *track = nullptr;
  auto it = tracks_.find(number);
  if (it == tracks_.end()) return E_INVALIDARG;
  return HandOut(it->second, track);
}

void AlbumResult::PutTrack(long number, CddbPtr<TrackResult> track) {
  track_number_ = number;
  tracks_[number] = std::move(track);
}

HRESULT ListItem::GetFilePath(std::string* path) {
  if (path == nullptr) return E_POINTER;
  *path = path_;
  return S_OK;
}

HRESULT ListItem::GetMatchCode(long* code) {
  if (code == nullptr) return E_POINTER;
  *code = code_;
  return S_OK;
}

HRESULT ListItem::GetTrackResult(ICddbTrackResult** track) { return HandOut(track_, track); }

HRESULT ListItem::GetTrackNumber(long* number) {
  if (number == nullptr) return E_POINTER;
  *number = track_number_;
  return S_OK;
}

HRESULT ListItem::GetAlbumResult(ICddbAlbumResult** album) {
  HRESULT hr = HandOut(album_, album);
  return hr == S_FALSE ? E_FAIL : hr;
}

void ListItem::SetMatch(CddbPtr<AlbumResult> album, long number, CddbPtr<TrackResult> track) {
  album_ = std::move(album);
  track_number_ = number;
  track_ = std::move(track);
}

HRESULT ResultList::GetCount(long* count) {
  if (count == nullptr) return E_POINTER;
  *count = static_cast<long>(items.size());
  return S_OK;
}

HRESULT ResultList::GetItem(long index, ICddbListItem** item) {
  if (item == nullptr) return E_POINTER;
  *item = nullptr;
  if (index < 1 || index > static_cast<long>(items.size())) return E_INVALIDARG;
  return HandOut(items[static_cast<std::size_t>(index - 1)], item);
}

}  // namespace cddb_component
