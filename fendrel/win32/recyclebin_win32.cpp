#include "../recyclebin.h"

#include <windows.h>
#include <shellapi.h>

bool RecycleBin::QuerySize(std::uint64_t& bytes) {
    bytes = 0;
    SHQUERYRBINFO info{};
    info.cbSize = sizeof(info);
    // No root path: the bins of all drives together.
    if (FAILED(SHQueryRecycleBinW(nullptr, &info)))
        return false;
    bytes = static_cast<std::uint64_t>(info.i64Size);
    return true;
}

bool RecycleBin::Empty() {
    const HRESULT hr = SHEmptyRecycleBinW(nullptr, nullptr, SHERB_NOCONFIRMATION | SHERB_NOPROGRESSUI | SHERB_NOSOUND);
    // Windows may report an already empty bin as E_UNEXPECTED; nothing is
    // left to delete, so that is success too. (Wine 8 answers S_OK for an
    // empty bin, and also S_OK while it leaves trashed folders in place.)
    return SUCCEEDED(hr) || hr == E_UNEXPECTED;
}
