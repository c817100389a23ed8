// The large-file walker's view of the disk: one directory level read in big
// batches with sizes and times taken from the same system calls, and the
// SHA-512 of a file's contents. Wide paths, as the walker keeps them.
//
//   FastDir::List(L"C:\\Data", visit)    Windows: NtQueryDirectoryFile
//   FastDir::List(L"/home/u", visit)     Linux: getdents64 + fstatat
//
// Attributes are Windows file attributes; on Linux they are synthesised:
//   folder 0x10, ".name" hidden 0x2, symbolic link 0x400 with the
//   symbolic-link tag, a pseudo file system (/proc, /sys, /dev, /run or any
//   mount of such a type) hidden and system (0x6): never entered.
#pragma once

#include "platform.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace FastDir {

inline constexpr std::uint32_t kAttrHidden = 0x2;
inline constexpr std::uint32_t kAttrSystem = 0x4;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrReparsePoint = 0x400;
inline constexpr std::uint32_t kTagMountPoint = 0xA0000003u;
inline constexpr std::uint32_t kTagSymlink = 0xA000000Cu;

struct Entry {
    std::wstring name;
    std::uint32_t attributes = 0;
    std::uint32_t reparseTag = 0;     // 0 unless a reparse point
    std::uint64_t logicalSize = 0;
    std::uint64_t physicalSize = 0;   // bytes allocated on the disk
    std::uint64_t lastWrite = 0;      // FILETIME (100 ns since 1601)
    bool IsDirectory() const { return (attributes & kAttrDirectory) != 0; }
};

// Calls visit for every entry of `folder` except "." and "..", until visit
// answers false. False, with nothing visited, when the folder cannot be
// opened. Callbacks must not throw: an exception may not cross this
// library's boundary on every system.
FENDREL_API bool List(const std::wstring& folder, const std::function<bool(const Entry&)>& visit);

// The queue a walk of `path` belongs to: one per disk. Windows: the drive
// letter, the server of a UNC path, else the volume path; Linux: the device.
FENDREL_API std::wstring VolumeKey(const std::wstring& path);

// The same file reached by two names: volume and file index (Windows) or
// device and inode (Linux).
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator<(const FileId& other) const {
        return volume != other.volume ? volume < other.volume : index < other.index;
    }
    bool operator==(const FileId& other) const { return volume == other.volume && index == other.index; }
};

// A file opened for reading from its start, with what identifies it; closed
// when it goes. Works on paths of any length.
class FENDREL_API FileReader {
public:
    explicit FileReader(const std::wstring& path);
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    bool IsOpen() const { return m_open; }
    // Fills the buffer as far as the file goes: the count read, 0 at the
    // end, -1 on an error.
    std::int64_t Read(void* buffer, std::size_t size);

    FileId id;
    std::uint64_t size = 0;        // logical size when opened
    std::uint64_t lastWrite = 0;   // FILETIME when opened

private:
    // One read of the system: the count, 0 at the end, -1 on an error.
    std::int64_t ReadSome(void* buffer, std::size_t size);

    std::intptr_t m_handle = -1;
    bool m_open = false;
};

struct Digest {
    std::vector<std::uint8_t> bytes;   // the whole SHA-512, 64 bytes; empty on failure
    FileId id;
    std::uint64_t size = 0;            // logical size when opened
    std::uint64_t lastWrite = 0;       // FILETIME when opened
};

// SHA-512 of the first `limit` bytes of the file (0: all of it). `between`
// runs between reads of a whole file; false abandons the read (no digest).
FENDREL_API Digest Sha512(const std::wstring& path, std::uint64_t limit, const std::function<bool()>& between);

}  // namespace FastDir
