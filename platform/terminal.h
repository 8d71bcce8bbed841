// Reading a secret from the person at the terminal.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Reads one line without its line end. When standard input is a terminal
// the prompt goes to standard error and the terminal does not echo what is
// typed (the echo is restored afterwards, also when reading fails, and
// when SIGINT, SIGTERM, SIGHUP or SIGQUIT arrives meanwhile: the
// signal then takes its usual course);
// otherwise the line is read from standard input as it comes. False at end
// of input before any character, when reading fails, or when the line is
// longer than `max_bytes` (then `*too_long`, when given, is set and the
// line is left empty).
bool ReadSecretLine(const std::string& prompt, std::string* line, std::size_t max_bytes = 4096,
                    bool* too_long = nullptr);

}  // namespace platform
