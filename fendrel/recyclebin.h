// The recycle bin of every drive: the shell's bins on Windows, the
// freedesktop.org Trash on Linux ($XDG_DATA_HOME/Trash and each mount's
// .Trash-$UID or .Trash/$UID).
#pragma once

#include "platform.h"

#include <cstdint>

class FENDREL_API RecycleBin {
public:
    // Bytes held by all bins together; false when they cannot be measured.
    static bool QuerySize(std::uint64_t& bytes);
    // Empties every bin without asking; false when that failed.
    static bool Empty();
};
