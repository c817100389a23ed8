// The XDG user directories of Linux desktops: the file
// $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config/user-dirs.dirs), read
// the way desktop libraries read it and written in the format of
// xdg-user-dirs-update --set. Keys are the names between "XDG_" and "_DIR":
// DESKTOP, DOWNLOAD, TEMPLATES, PUBLICSHARE, DOCUMENTS, MUSIC, PICTURES,
// VIDEOS. Paths are UTF-8, without a trailing "/".
//
//   XDG_DOWNLOAD_DIR="$HOME/Downloads"    => <home>/Downloads
//   XDG_MUSIC_DIR="/srv/music"            => /srv/music
//   XDG_VIDEOS_DIR="$HOME/My \"Films\""   => <home>/My "Films"
//   XDG_DESKTOP_DIR="Desktop"             => ignored: neither "$HOME..." nor absolute
//   # comment lines, other lines          => ignored; of two lines for a key the last counts
//   no file, no line for the key          => the default, <home>/Downloads etc.
// Linux only: Windows keeps these folders as known folders (hostservices.h).
#pragma once

#include "platform.h"

#if defined(FENDREL_POSIX)

#include <string>

class FENDREL_API UserDirs {
public:
    // The user's folder for a key: the file's entry, else the default; empty
    // for an unknown key without an entry, or when the home folder is unknown.
    static std::string Folder(const std::string& key);
    // Sets the key's entry to an absolute path (written "$HOME/..." when it
    // lies below the home folder), keeping every other line; the file is
    // replaced atomically. False for a relative path or when writing failed.
    static bool SetFolder(const std::string& key, const std::string& path);

    // The file's text parsed for one key; empty when there is no valid line.
    static std::string Parse(const std::string& text, const std::string& key, const std::string& home);
    // The text with the key's line replaced (the last one, in place) or appended.
    static std::string Update(const std::string& text, const std::string& key, const std::string& path,
                              const std::string& home);
    // <home>/Downloads and so on; empty for an unknown key.
    static std::string Default(const std::string& key, const std::string& home);

    static std::string FilePath();  // empty when neither XDG_CONFIG_HOME nor the home folder is known
    static std::string Home();      // $HOME, else the password database's; empty when unknown
};

#endif
