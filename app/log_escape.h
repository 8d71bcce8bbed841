// How the log writes what it is given: control characters become visible
// escapes, so no text (a file name, a server's message) can fake a line
// or send escape sequences to a terminal showing the log.
#pragma once

#include <string>
#include <string_view>

// `text` with its control characters (C0, DEL and the C1 range of UTF-8)
// written byte by byte as "\xNN"; tabs kept when `keep_tabs`.
std::string EscapeControls(std::string_view text, bool keep_tabs);
