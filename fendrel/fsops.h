// Narrow-path file system helpers for the engines (process code page).
// None follows a link when it deletes; none throws.
#pragma once

#include "platform.h"

#include <cstdint>
#include <string>
#include <vector>

class FENDREL_API FileSystem {
public:
    // Something is at the path: file, folder or link. A link counts itself,
    // so a dangling link exists (as it does for GetFileAttributes).
    static bool Exists(const std::string& path);
    // Size of a file in bytes (through a link, to its target); -1 when it
    // cannot be opened or is a folder. Files in use by other programs count.
    static std::int64_t Size(const std::string& path);
    // Copies contents and modification time (and the attributes on Windows,
    // the permission bits on Linux). Without overwrite an existing
    // destination fails; a file copied onto itself always fails. Linux: a
    // link as source or destination fails (ELOOP), and a half-written
    // destination is removed.
    static bool CopyFile(const std::string& from, const std::string& to, bool overwrite);
    // Removes one file (never a folder, never a link's target); false with
    // the system error number in *error.
    static bool RemoveFile(const std::string& path, int* error = nullptr);
    // Removes one file even when it is read-only, hidden, system or (Windows)
    // open by a program that shares delete access: then it goes when the
    // last handle closes. Never a folder; a link is removed, not its target.
    // False with the system error number left for LastError.
    static bool ForceDeleteFile(const std::wstring& path);
    // A new empty file in the temporary folder whose name starts with prefix;
    // empty on failure. Windows keeps the first three characters of the
    // prefix (name "tmpXXXX.tmp"); Linux uses $TMPDIR, else /tmp.
    static std::string CreateTempFile(const std::string& prefix);
    // The program's folder, without a trailing separator.
    static std::string ProgramDirectory();
    // The calling thread's last system error number (GetLastError / errno).
    static int LastError();
};

// Shell wildcard matching as Windows does it for file names: "*" any run
// (dots included), "?" exactly one character, case-insensitive, no bracket
// classes ("[" is literal). The pattern is a ";"-separated list whose
// entries lose their leading spaces (not their trailing ones); the whole
// pattern "*.*" matches every name, a dot-less one included.
//   MatchSpec("a.LOG", "*.log") => true      MatchSpec("a.log.bak", "*.log") => false
//   MatchSpec("ab", "a?b")      => false     MatchSpec("abc", "*.*")         => true
//   MatchSpec("b.tmp", "*.log; *.tmp") => true    MatchSpec("", "*") => true
// Linux: names are UTF-8, "?" is one code point, letters fold by Unicode.
// Windows: the process code page decides what one character is.
class FENDREL_API Wildcards {
public:
    static bool MatchSpec(const std::string& name, const std::string& pattern);
};

// Environment variables between percent signs, any length of result.
//   Expand("%HOME%/x") => "/root/x"     Expand("%NOPE%/x") => "%NOPE%/x"
//   Expand("100%")     => "100%"        Expand("%NOPE%HOME%") => "%NOPE%HOME%"
// An unknown "%NAME%" is kept whole and scanning goes on after it, as
// Windows does. Linux names are case-sensitive, Windows ones are not.
class FENDREL_API Environment {
public:
    static std::string Expand(const std::string& text);
};

// The disks of this machine as path prefixes a separator and a name can be
// appended to: "C:", "D:" on Windows; the mount points of real file systems
// on Linux, with "/" given as "" so that "" + "/" + "tmp" is "/tmp".
// Linux keeps disk, network and overlay (container root) file systems and
// leaves out kernel, memory (tmpfs) and read-only image (squashfs) ones.
// The list replaces what roots held; false when it cannot be read.
class FENDREL_API Disks {
public:
    static bool List(std::vector<std::string>& roots);

    // The fixed disks with their space, in drive-letter order ("C:\\") on
    // Windows; on Linux the mount points of List ("/" for the root). A disk
    // whose space cannot be read is left out.
    struct Space {
        std::string root;
        std::uint64_t totalBytes = 0;
        std::uint64_t freeBytes = 0;
    };
    static std::vector<Space> FixedSpaces();
    // The fixed disks' roots ("C:\\", or mount points) and the system's
    // own ("C" on Windows, "/" on Linux; empty when unknown).
    static std::vector<std::string> FixedRoots(std::string& systemDrive);
};

// A value of an INI file as the system's profile functions read it; empty
// when the file, section or key is missing. Section and key names are
// case-insensitive, spaces around "=" do not count, and a value wholly in
// double or single quotes loses them. Pass a full path: Windows looks for a
// bare file name in its own folder.
// Linux reads with SimpleIni, which differs from Windows in rare cases:
// a key given twice reads as its last value (Windows: the first), a section
// given twice is one section (Windows reads the first only), and a line
// starting with "#" is a comment, as Linux programs mean it (Windows: a key).
class FENDREL_API Profile {
public:
    static std::string ReadString(const std::string& file, const std::string& section, const std::string& key);
};
