// The set-up requests that `vornic --login`, `--folders` etc. send to the
// running copy over its instance socket, and the answers. A request or an
// answer is one line of fields separated by tabs; in a field, '%', tab,
// line ends and other control characters are written as %XX, so any folder
// path travels unchanged.
//
// Requests: "status"; "login" EMAIL PASSWORD (answered "ok" COUNT); "login-result"
// COUNT ("pending", or the outcome); "logout"; "folders"; "add-folder" PATH;
// "remove-folder" PATH; "rescan"; "pid" (answered "ok" PID, then "window" or
// "headless"). Answers start with "ok" or
// "error" (then the reason).
#pragma once

#include <string>
#include <vector>

std::string EncodeFields(const std::vector<std::string>& fields);
// Splits a line made by EncodeFields; a malformed %XX stays as it is.
std::vector<std::string> DecodeFields(const std::string& line);
