// The results of a library identification run: lists of items (one list
// per folder of queued files), each item with its match code and, when
// matched, an album result holding the matched track.
//
// Thread safety: one thread at a time.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "musicid/component/component_objects.h"

namespace cddb_component {

class TrackResult : public CddbObject<ICddbTrackResult, IID_ICddbUnknown> {
 public:
  HRESULT GetText(CddbField field, std::string* value) override {
    return fields.Read(field, value);
  }
  TextFields fields;
};

class AlbumResult : public CddbObject<ICddbAlbumResult, IID_ICddbUnknown> {
 public:
  HRESULT GetText(CddbField field, std::string* value) override {
    return fields.Read(field, value);
  }
  HRESULT GetTrackNumber(long* number) override;
  HRESULT GetTrack(long number, ICddbTrackResult** track) override;

  // Adds `track` as number `number` (and makes it the matched one).
  void PutTrack(long number, CddbPtr<TrackResult> track);

  TextFields fields;

 private:
  long track_number_ = 0;
  std::map<long, CddbPtr<TrackResult>> tracks_;
};

class ListItem : public CddbObject<ICddbListItem, IID_ICddbUnknown> {
 public:
  explicit ListItem(std::string path) : path_(std::move(path)) {}
  HRESULT GetFilePath(std::string* path) override;
  HRESULT GetMatchCode(long* code) override;
  HRESULT GetTrackResult(ICddbTrackResult** track) override;
  HRESULT GetTrackNumber(long* number) override;
  HRESULT GetAlbumResult(ICddbAlbumResult** album) override;

  const std::string& path() const { return path_; }
  long code() const { return code_; }
  void set_code(long code) { code_ = code; }
  // The matched track: its album result, number and track result.
  void SetMatch(CddbPtr<AlbumResult> album, long number, CddbPtr<TrackResult> track);

 private:
  std::string path_;
  long code_ = kCddbMatchNotQueried;
  long track_number_ = 0;
  CddbPtr<TrackResult> track_;
  CddbPtr<AlbumResult> album_;
};

class ResultList : public CddbObject<ICddbList, IID_ICddbUnknown> {
 public:
  HRESULT GetCount(long* count) override;
  HRESULT GetItem(long index, ICddbListItem** item) override;

  std::vector<CddbPtr<ListItem>> items;
};

}  // namespace cddb_component
