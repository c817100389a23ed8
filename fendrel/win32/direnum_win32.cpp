// Folder listing with the narrow Find functions. The basic information level
// skips the 8.3 short names nobody here reads, and the large fetch asks for
// bigger batches per system call; both exist since Windows 7.
#include "../direnum.h"

#include <windows.h>

struct DirEnum::State {
    HANDLE find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA data{};
    bool pending = false;  // data holds the first record, not yet returned
};

DirEnum::DirEnum() : m_state(std::make_unique<State>()) {}

DirEnum::~DirEnum() {
    Close();
}

bool DirEnum::Open(const std::string& folder) {
    Close();
    m_error = 0;
    std::string pattern = folder;
    if (pattern.empty() || (pattern.back() != '\\' && pattern.back() != '/'))
        pattern += '\\';
    pattern += '*';
    State& state = *m_state;
    state.find = FindFirstFileExA(pattern.c_str(), FindExInfoBasic, &state.data, FindExSearchNameMatch, nullptr,
                                  FIND_FIRST_EX_LARGE_FETCH);
    if (state.find == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // The root of an empty drive has no "." or "..", so nothing matches
        // "*": an empty listing, not a failure.
        if (error == ERROR_FILE_NOT_FOUND)
            return true;
        m_error = static_cast<int>(error);
        return false;
    }
    state.pending = true;
    return true;
}

bool DirEnum::Next(DirEntry& entry) {
    State& state = *m_state;
    if (state.find == INVALID_HANDLE_VALUE)
        return false;
    for (;;) {
        if (state.pending) {
            state.pending = false;
        } else if (!FindNextFileA(state.find, &state.data)) {
            const DWORD error = GetLastError();
            m_error = error == ERROR_NO_MORE_FILES ? 0 : static_cast<int>(error);
            return false;
        }
        const char* name = state.data.cFileName;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        const DWORD attributes = state.data.dwFileAttributes;
        entry.name.assign(name);
        entry.attributes = attributes;
        entry.isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // Every reparse point, not only junctions and symbolic links: a walk
        // must not enter a cloud placeholder folder either (it would download).
        entry.isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entry.size = entry.isDirectory ? 0
                                       : (static_cast<std::uint64_t>(state.data.nFileSizeHigh) << 32) |
                                             state.data.nFileSizeLow;
        return true;
    }
}

void DirEnum::Close() {
    State& state = *m_state;
    if (state.find != INVALID_HANDLE_VALUE) {
        FindClose(state.find);
        state.find = INVALID_HANDLE_VALUE;
    }
    state.pending = false;
}
