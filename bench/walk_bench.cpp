// The whole walk of one folder rule over a generated tree (tools/gen-tree),
// the way a scan worker runs it: files reported to a scan callback, sizes
// summed, nothing opened.
//
//   walk_bench --tree=DIR [benchmark flags]   in-process timings (Google Benchmark)
//   walk_bench --walk DIR PATTERN             one walk, prints "files bytes"
//                                             (scripts/bench times this one
//                                             against find and du)
#include "trova/clean/cachecleancbk.h"
#include "trova/clean/dir.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

// Counts what a scan would hand to the page; the real callback marshals to
// the UI thread, which costs more and is not the walk's.
class CountingCallback : public Trova::CacheCleanCbk {
public:
    void OnTotal(std::uint64_t, std::uint64_t) override {}
    void OnGroup(std::string, std::uint64_t, std::uint64_t, std::uint32_t) override {}
    void OnProgram(std::string, std::uint64_t, std::uint64_t, std::uint32_t) override {}
    void OnItem(std::string, std::uint64_t, std::uint32_t, bool) override {}
    void OnItemFiles(const std::map<std::string, std::uint64_t>&) override {}
    void OnRunningSize(std::uint64_t, std::uint64_t) override {}
    void OnFileFound(const std::string&) override { ++files; }
    void OnScanEnd(std::uint8_t) override {}
    void OnProgress(std::uint32_t, std::uint32_t) override {}

    std::uint64_t files = 0;
};

std::unique_ptr<Trova::Dir> RuleFor(const std::string& pattern) {
    pugi::xml_document doc;
    pugi::xml_node node = doc.append_child("vg");
    node.append_attribute("od") = pattern.c_str();
    auto rule = std::make_unique<Trova::Dir>(nullptr);
    rule->Read(node);
    return rule;
}

std::string g_tree;

void BM_WalkAll(benchmark::State& state, const char* pattern) {
    auto rule = RuleFor(pattern);
    CountingCallback callback;
    Trova::g_scanCallback = &callback;
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        bytes = rule->WalkAll(g_tree, true, 0);
        benchmark::DoNotOptimize(bytes);
    }
    Trova::g_scanCallback = nullptr;
    state.counters["files"] = static_cast<double>(callback.files / state.iterations());
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["files/s"] =
        benchmark::Counter(static_cast<double>(callback.files), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_WalkAll, all, "*")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_WalkAll, log, "*.log")->Unit(benchmark::kMillisecond)->UseRealTime();

int WalkOnce(const std::string& tree, const std::string& pattern) {
    auto rule = RuleFor(pattern);
    CountingCallback callback;
    Trova::g_scanCallback = &callback;
    const std::uint64_t bytes = rule->WalkAll(tree, true, 0);
    Trova::g_scanCallback = nullptr;
    std::printf("%llu %llu\n", static_cast<unsigned long long>(callback.files), static_cast<unsigned long long>(bytes));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--walk") == 0) {
        return WalkOnce(argv[2], argv[3]);
    }
    // --tree=DIR is ours; everything else goes to the benchmark library.
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--tree=", 7) == 0) {
            g_tree = argv[i] + 7;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    if (g_tree.empty()) {
        std::fprintf(stderr, "usage: %s --tree=DIR [benchmark flags] | --walk DIR PATTERN\n", argv[0]);
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
