// Path and file helpers of Fendrel. Paths are wide strings in the platform's
// form (UTF-16 with "\" on Windows, UTF-32 with "/" on Linux). Nothing here
// throws on an ordinary failure: results are empty, false or -1.
//
//   Directory(L"C:\\a\\b.txt") => L"C:\\a"        Directory(L"") => program folder
//   Name(L"C:/a/b.txt")       => L"b.txt"         (either separator counts)
//   Extension(L"C:\\a.b\\F.TXT") => L"txt"        Extension(L"C:\\a.b\\f") => L"b\\f"
//   Basename(L"C:\\dir.x\\file") => L"file"
#pragma once

#include "platform.h"

#include <cstdint>
#include <string>
#include <vector>

enum class FileType {
    pdf, doc, docx, rtf, xls, xlsx, ppt, pptx, txt, png, jpg, bmp, ico, gif,
    exif, tiff, wmf, emf, none, html, webp
};

class FENDREL_API File {
public:
    File();
    explicit File(const std::wstring& path);
    File(const File& other);
    File(File&& other) noexcept;
    File& operator=(const File& other);
    virtual ~File();

    // Text of a file type; throws std::out_of_range for a value outside the enumeration.
    static std::wstring FileTypeToString(FileType type);

    // Path operations. The "last separator" is the last "\" or "/".
    static std::wstring Directory(const std::wstring& path);  // only the platform separator counts
    static std::wstring Name(const std::wstring& path);
    static std::wstring Name(const std::wstring& path, wchar_t separator);
    static std::wstring Basename(const std::wstring& path);
    static std::wstring Extension(const std::wstring& path);  // lower case
    static std::wstring FullPath();                           // the running executable
    static std::wstring TempPath();                           // with a trailing separator
    // First free path among path, dir/base_1[.ext], dir/base_2[.ext], ...; updates the argument too.
    static std::wstring GenerateUniquePath(std::wstring& path, bool isFile);

    // File system operations.
    static bool Exist(const std::wstring& path);
    // Size in bytes, -1 when it cannot be queried or does not fit 32 bits (2 GiB and more).
    static std::int32_t BytesSize(const std::wstring& path);
    // Size in bytes, -1 when it cannot be queried.
    static std::int64_t BytesSize64(const std::wstring& path);
    static bool CreateDeepDirectory(const std::wstring& path);
    // Non-directory entries matching a pattern such as folder + "\*"; -1 when none or unreadable.
    static int CountFileInDir(const std::wstring& pattern);
    static std::vector<std::wstring> ListDir(const std::wstring& pattern);
    static std::vector<std::wstring> GetFilesInDir(const std::wstring& folder);
    // Copies with overwrite; with move, deletes the source after a successful copy.
    static bool Copy(const File& source, const std::wstring& destination, bool move);
    static bool Delete(const File& file);
    // UTF-16 text files without byte-order-mark handling, read up to the first NUL.
    static std::wstring ReadTextFile(const std::wstring& path);
    static bool WriteTextToFile(const std::wstring& path, const std::wstring& text);
    // The whole file; empty for files of 4 GiB or more and on any failure.
    static std::vector<std::uint8_t> readFile(const std::wstring& path);

    // Shell and dialogs. Where the platform has no such service they return
    // their failure value (null, false, empty).
    static HINSTANCE OpenFileBySystem(const std::wstring& file, const std::vector<std::wstring>& arguments,
                                      int showCommand);
    static bool OpenDirAndSelectFile(const std::wstring& path);
    static std::wstring ChooseDirectory(HWND owner);
    static std::wstring SelectMultiFiles(HWND owner, const std::wstring& initialFolder,
                                         const std::wstring& filter, int filterIndex);

    // Member forms on the wrapped path.
    const std::wstring& Path() const;
    void Path(const std::wstring& newPath);
    void Rename(const std::wstring& newName);  // the path only; the disk is untouched
    std::wstring Name() const;
    std::wstring Basename() const;
    std::wstring Extension() const;
    bool Exist() const;
    std::int32_t BytesSize() const;
    std::int64_t BytesSize64() const;

private:
    // Creates or truncates the file and writes the bytes; the platform half of WriteTextToFile.
    static bool WriteBytes(const std::wstring& path, const std::string& bytes);

    std::wstring m_path;
};
