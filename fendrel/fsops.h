// Narrow-path file system helpers for the engines (process code page).
// None follows a link when it deletes; none throws.
#pragma once

#include "platform.h"

#include <cstdint>
#include <string>
#include <vector>

class FENDREL_API FileSystem {
public:
    // A file or folder exists at the path.
    static bool Exists(const std::string& path);
    // Size of a file in bytes; -1 when it cannot be opened.
    static std::int64_t Size(const std::string& path);
    static bool CopyFile(const std::string& from, const std::string& to, bool overwrite);
    // Removes one file (never a folder, never a link's target); false with
    // the system error number in *error.
    static bool RemoveFile(const std::string& path, int* error = nullptr);
    // A new empty file in the temporary folder whose name starts with prefix;
    // empty on failure.
    static std::string CreateTempFile(const std::string& prefix);
    // The program's folder, without a trailing separator.
    static std::string ProgramDirectory();
    static int LastError();
};

// Shell wildcard matching as Windows does it for file names: "*" any run,
// "?" one character, case-insensitive, no bracket classes.
//   MatchSpec("a.LOG", "*.log") => true     MatchSpec("ab", "a?b") => false
class FENDREL_API Wildcards {
public:
    static bool MatchSpec(const std::string& name, const std::string& pattern);
};

// %NAME% from the environment; unknown names stay as they are.
//   Expand("%HOME%/x") => "/root/x"     Expand("%NOPE%/x") => "%NOPE%/x"
class FENDREL_API Environment {
public:
    static std::string Expand(const std::string& text);
};

// The disks of this machine as path prefixes a separator and a name can be
// appended to: "C:", "D:" on Windows; the mount points of real file systems
// on Linux, with "/" given as "" so that "" + "/" + "tmp" is "/tmp".
class FENDREL_API Disks {
public:
    static bool List(std::vector<std::string>& roots);
};

// A value of an INI file as the system's profile functions read it; empty
// when the file, section or key is missing.
class FENDREL_API Profile {
public:
    static std::string ReadString(const std::string& file, const std::string& section, const std::string& key);
};
