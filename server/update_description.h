// The update description the service publishes (update.txt) and the rules
// around it: where this system's section begins, its three pieces, the
// four-number version and the name the downloaded installer gets.
//
// Pure functions, safe from any thread; the text comes from the network
// and is trusted for nothing.
#pragma once

#include <array>
#include <string>
#include <string_view>

// The word that opens this system's section of the description.
inline constexpr std::string_view kUpdateSectionKeyword = "linux";

// The pieces of the section: "<version>|<installer address>|<description>".
struct UpdateOffer {
  std::string version;
  std::string url;
  std::string description;
};

// The text after the first kUpdateSectionKeyword, split at "|" into the
// offer's pieces (missing ones empty, each trimmed of blanks and line
// ends). A "|" right after the keyword separates it from the version. False
// when the keyword is missing or nothing follows it.
bool ParseUpdateDescription(std::string_view text, UpdateOffer* offer);

using VersionNumbers = std::array<int, 4>;

// Four decimal numbers separated by dots, each optionally signed, read as
// "%d.%d.%d.%d" reads them (leading blanks skipped, text after the fourth
// number ignored). False when there are fewer than four or one overflows.
bool ParseVersion(std::string_view text, VersionNumbers* numbers);

// Whether `offered` is newer than `running`: the texts differ and both
// hold four numbers, the first differing number of `offered` being the
// greater.
bool IsNewerVersion(std::string_view offered, std::string_view running);

// The only package type this system's installer may have: the program is
// shipped as a Debian package and nothing else.
inline constexpr std::string_view kInstallerExtension = "deb";

// Why the installer at `url` may not be downloaded; empty when it may: an
// https address with a host whose path's last segment ends in ".deb".
std::string InstallerRefusal(std::string_view url);

// The installer's file name: "update_" and the four numbers, then the
// extension of the last segment of the installer address's path when it is
// 1 to 8 letters or digits (".deb"; anything else is dropped).
// Nothing of the offered text but the numbers reaches the name, so
// no path can be smuggled in. Empty when `version` has no four numbers.
std::string InstallerFileName(std::string_view version, std::string_view url);
