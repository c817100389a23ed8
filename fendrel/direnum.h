// One level of a folder, entry by entry, with what the engines need to
// decide without further system calls: name, attributes, 64-bit size and
// whether the entry is a link. Narrow paths (process code page).
//
//   DirEnum e; if (e.Open("C:\\tmp")) while (e.Next(entry)) ...
//   "." and ".." are never returned.
#pragma once

#include "platform.h"

#include <cstdint>
#include <memory>
#include <string>

struct DirEntry {
    std::string name;
    std::uint32_t attributes = 0;  // Windows file attributes (synthesised on Linux)
    std::uint64_t size = 0;        // bytes of a file; 0 for folders
    bool isDirectory = false;
    // A junction, symbolic link or mount point (a folder on another device on
    // Linux). Walks list links but never enter them.
    bool isLink = false;
};

class FENDREL_API DirEnum {
public:
    DirEnum();
    ~DirEnum();
    DirEnum(const DirEnum&) = delete;
    DirEnum& operator=(const DirEnum&) = delete;

    // Starts listing a folder (no pattern, no trailing separator needed).
    // False when it cannot start; Error() then holds the system error number.
    bool Open(const std::string& folder);
    bool Next(DirEntry& entry);
    void Close();
    int Error() const { return m_error; }

private:
    struct State;
    std::unique_ptr<State> m_state;
    int m_error = 0;
};
