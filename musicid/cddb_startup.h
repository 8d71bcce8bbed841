// The identification component at start-up and shutdown: the process-wide
// loader with the modules found in the program folder, and GetTagEntry's
// reading of mp3 and wma tags through the component's tag object.
//
// Thread safety: main thread, while no agent runs.
#pragma once

#include <string>

#include "db/component_tags.h"

// Creates the loader over `folder` (empty: the program folder), publishes
// it and installs the component's tag reading.
void CreateCddbLoader(const std::string& folder = {});
// Removes the tag reading, unloads the modules and deletes the loader.
void FreeCddbLoader();

// Reads `path` with a tag object of the process-wide loader.
HRESULT ReadTagsWithComponent(const std::string& path, ComponentTags* tags);
