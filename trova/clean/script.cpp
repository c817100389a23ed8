// Rule scripts: one fresh Lua 5.1 interpreter per run, closed before the
// result is returned, so scan workers running scripts share nothing.
#include "trova/clean/script.h"

#include "fendrel/fsops.h"
#include "fendrel/logger.h"
#include "fendrel/platform.h"
#include "fendrel/utils.h"

#include <lua.hpp>
#include <pugixml.hpp>

#include <memory>

namespace Trova {

namespace {

constexpr const char* kSource = "clean/script";

// A script that never ends would hold a scan worker for good. After this many
// VM instructions the run is stopped with an error; real rule scripts read a
// file or two and need a tiny fraction of it (100 million instructions take
// well under a second). Time spent inside one C function (a blocking read,
// os.execute) is not counted.
constexpr long long kInstructionBudget = 100000000;
constexpr int kCheckEvery = 1000000;

// The budget of one run, reachable from every coroutine of its state through
// the registry: a coroutine starts with a fresh hook count, so a per-thread
// count alone would let a script outrun it by starting new coroutines.
struct Budget {
    long long left = kInstructionBudget;
    lua_State* main = nullptr;
};
const char kBudgetKey = 0;

void CountInstructions(lua_State* L, lua_Debug*) {
    lua_pushlightuserdata(L, const_cast<char*>(&kBudgetKey));
    lua_rawget(L, LUA_REGISTRYINDEX);
    auto* budget = static_cast<Budget*>(lua_touserdata(L, -1));
    lua_pop(L, 1);
    if (budget != nullptr && (budget->left -= kCheckEvery) > 0)
        return;
    // Spent: from now on every instruction fails, so a script that catches
    // the error with pcall, or only lets a coroutine fail, cannot carry on.
    lua_sethook(L, CountInstructions, LUA_MASKCOUNT, 1);
    if (budget != nullptr && budget->main != L)
        lua_sethook(budget->main, CountInstructions, LUA_MASKCOUNT, 1);
    luaL_error(L, "script stopped: instruction budget spent");
}

struct LuaCloser {
    void operator()(lua_State* L) const { lua_close(L); }
};

// The value at index as text for the log; Lua errors need not be strings.
std::string MessageAt(lua_State* L, int index) {
    std::size_t length = 0;
    const char* text = lua_tolstring(L, index, &length);
    if (text == nullptr)
        return std::string("(") + luaL_typename(L, index) + " value)";
    return std::string(text, length);
}

}  // namespace

Script::Script(BaseObject* parent) : BaseObject(parent, kKindNone), sv(this, 46), uk(this) {}

void Script::Read(const pugi::xml_node& node) {
    present = true;
    sv.Read(node, "sv");
    uk.Read(node, "uk");
}

std::string Script::Run() const {
    const std::string path = FileSystem::ProgramDirectory() + fendrel::kPathSepA + uk.Get();

    // Declared first so that it outlives the state: lua_close may still run
    // a script's __gc handlers, and the hook with them.
    Budget budget;
    std::unique_ptr<lua_State, LuaCloser> state(luaL_newstate());
    lua_State* L = state.get();
    if (L == nullptr) {
        Logger_Warn(kSource, __LINE__, "load lua failed!");
        return {};
    }
    luaL_openlibs(L);
    // The count hook's error unwinds the script like any runtime error and
    // lands in lua_pcall below.
    budget.main = L;
    lua_pushlightuserdata(L, const_cast<char*>(&kBudgetKey));
    lua_pushlightuserdata(L, &budget);
    lua_rawset(L, LUA_REGISTRYINDEX);
    lua_sethook(L, CountInstructions, LUA_MASKCOUNT, kCheckEvery);

    if (luaL_loadfile(L, path.c_str()) != 0 || lua_pcall(L, 0, LUA_MULTRET, 0) != 0) {
        // Script text is data for the log, never a format.
        Logger_Warn(kSource, __LINE__, MessageAt(L, -1).c_str());
        return {};
    }

    std::string text;
    const int results = lua_gettop(L);
    if (results >= 2 && lua_type(L, -2) == LUA_TNIL) {
        // The script's way of saying "no value, and here is why".
        Logger_Warn(kSource, __LINE__, MessageAt(L, -1).c_str());
        return {};
    }
    if (results >= 1 && lua_isstring(L, -1)) {
        std::size_t length = 0;
        const char* value = lua_tolstring(L, -1, &length);
        text.assign(value, length);
    }
    state.reset();
    if (!text.empty())
        text = Utils::utf8ToAnsi(text);
    return text;
}

}  // namespace Trova
