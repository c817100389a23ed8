// One level of a folder, entry by entry, with what the engines need to
// decide without further system calls: name, attributes, 64-bit size and
// whether the entry is a link. Narrow paths (process code page).
//
//   DirEnum e; if (e.Open("C:\\tmp")) while (e.Next(entry)) ...
//   "." and ".." are never returned; the order is the file system's.
//
// Linux: attributes are synthesised from the file's type and name:
//   folder => FILE_ATTRIBUTE_DIRECTORY (0x10)   ".name" => FILE_ATTRIBUTE_HIDDEN (0x2)
//   link or mount point => FILE_ATTRIBUTE_REPARSE_POINT (0x400)
//   none of these => FILE_ATTRIBUTE_NORMAL (0x80)
// A symbolic link to a folder is a folder and a link, as a directory link is
// on Windows; a link's size is 0 (deleting it frees nothing of its target).
#pragma once

#include "platform.h"

#include <cstdint>
#include <memory>
#include <string>

struct DirEntry {
    std::string name;
    std::uint32_t attributes = 0;  // Windows file attributes (synthesised on Linux)
    std::uint64_t size = 0;        // bytes of a file; 0 for folders and links on Linux
    bool isDirectory = false;
    // A junction, symbolic link or mount point (a folder on another device on
    // Linux). Windows: any reparse point, so cloud placeholders count too.
    // Walks list links but never enter them.
    bool isLink = false;
};

class FENDREL_API DirEnum {
public:
    DirEnum();
    ~DirEnum();
    DirEnum(const DirEnum&) = delete;
    DirEnum& operator=(const DirEnum&) = delete;

    // Starts listing a folder (no pattern; a trailing separator is allowed).
    // The folder path itself may go through links. "" is the root of the
    // current drive on Windows and "/" on Linux, matching how Disks spells "/".
    // False when it cannot start; Error() then holds the system error number
    // (Windows: 3 for a missing folder, 267 or 123 for a file; Linux: ENOENT,
    // ENOTDIR, EACCES).
    bool Open(const std::string& folder);
    // The next entry; false at the end, with Error() 0, or on a read error,
    // with Error() the system error number.
    bool Next(DirEntry& entry);
    void Close();
    int Error() const { return m_error; }

private:
    struct State;
    std::unique_ptr<State> m_state;
    int m_error = 0;
};
