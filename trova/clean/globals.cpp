#include "trova/clean/cachecleancbk.h"

namespace Trova {

std::atomic<CacheCleanCbk*> g_scanCallback{nullptr};
std::atomic<bool> g_dataScrambled{false};

}  // namespace Trova
