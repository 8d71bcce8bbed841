// The identification component's tag reading, as GetTagEntry sees it: a
// reader the program installs at start-up when the component's loader
// exists. Without one, GetTagEntry reads only the tag reader's tags.
//
// Thread safety: SetComponentTagReader runs at start-up and shutdown while
// no other thread uses the database; the reader itself may be called from
// any thread.
#pragma once

#include <functional>
#include <string>

#include "platform/win_types.h"

// The tags the component's tag object found in a file (UTF-8; empty when
// absent).
struct ComponentTags {
  std::string artist, album, title, year, genre, track, gn_id;
};

// Reads `path` into `tags`; a failure result when it could not.
using ComponentTagReader = std::function<HRESULT(const std::string& path, ComponentTags* tags)>;

// Installs the reader (an empty function removes it).
void SetComponentTagReader(ComponentTagReader reader);
