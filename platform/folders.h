// The per-user folders of the program and the folder of its own binary.
// Values are read from the environment on every call (tests point the XDG
// variables at temporary folders). Safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// $HOME, else the passwd entry's home directory.
std::string HomeDir();
// $XDG_CONFIG_HOME/kiv, default ~/.config/kiv: holds the registry file.
std::string ConfigDir();
// $XDG_DATA_HOME/kiv, default ~/.local/share/kiv: log, database, downloads.
std::string DataDir();
// $XDG_RUNTIME_DIR when set, usable and private (IsPrivateDir), else
// DataDir(): single-instance lock and socket.
std::string RuntimeDir();
// The user's music folder: XDG_MUSIC_DIR from $XDG_CONFIG_HOME/user-dirs.dirs,
// default ~/Music.
std::string MusicDir();
// The directory of /proc/self/exe: only for files shipped with the program.
std::string ProgramDir();
// Where the program's loadable modules are: "<prefix>/lib/vornic" of an
// installed program (ProgramDir() is "<prefix>/bin") when that folder
// exists, else ProgramDir() itself (the build folder).
std::string ModuleDir();

// Creates `path` and any missing parents with mode 0700. True when the
// folder exists afterwards; otherwise false with the last error set.
bool EnsureDir(const std::string& path);

// True when `path` is a folder owned by the user that no other user may
// write to (neither group nor others have write access); otherwise false
// with the reason in `*why` (when given). Files in any other folder could
// be planted or swapped by someone else.
bool IsPrivateDir(const std::string& path, std::string* why = nullptr);

// Creates DataDir() when missing and keeps it at mode 0700 when it is the
// user's. False, with a sentence for the user in `*problem`, when it cannot
// be created or is not private: nothing may then be kept in it.
bool PrepareDataDir(std::string* problem);

// Parses the value of XDG_MUSIC_DIR out of a user-dirs.dirs text
// ("$HOME/..." expanded with `home`); empty when absent.
std::string ParseUserDirsMusic(const std::string& text, const std::string& home);

// True when `path` lies in one of the system trees (/proc /sys /dev /run
// /usr /etc /boot) or is one of them; nothing there is the user's music.
// /run/media, where removable drives are mounted, is not a system tree.
// Whole path components are compared from the start, so a music folder
// named "etc" somewhere is not a system tree.
bool IsInSystemTree(std::string_view path);

// True when every entry of `folder` (the path `folder` + "/" + name) gets
// the same IsInSystemTree answer as `folder` itself, so that a walk may ask
// once per folder: the trees are named by their first two components, so
// this holds for any folder that has two components already.
bool ChildrenShareSystemTree(std::string_view folder);

}  // namespace platform
