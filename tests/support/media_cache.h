// Media files for the media and scan tests, made once per build tree with the
// test-media tool and shared by every test process (CTest runs each test
// case in a process of its own). A cached file is never changed: a test that
// damages or renames one works on a copy in its own temporary folder.
#pragma once

#include <string>

#include "tools/test_media.h"

namespace media_cache {

// Path of a file made to `plan`, made now if the cache lacks it. Fails the
// calling test (and returns "") when the file cannot be made.
std::string CachedMedia(const test_media::MediaPlan& plan);

// Tags with non-ASCII text (accents, CJK, a character outside the BMP) and
// an '=' inside a value.
test_media::MediaTags SampleTags();

// A plan of `format` with SampleTags().
test_media::MediaPlan TaggedPlan(const std::string& format, double seconds = 1.0);

}  // namespace media_cache
