#!/usr/bin/env bash
# The large-file and duplicate walks of clean-cli against the tools a user
# would otherwise reach for, over one generated tree, warm cache, in one run:
#   clean-cli extension --mode big  vs  find -size +1M (names and sizes of big files)
#   clean-cli extension --mode dup  vs  fdupes -r and jdupes -r (files over 1 MiB)
# The answers are compared first (same big files, same number of duplicate
# groups), then timed with hyperfine.
#
#   bench/files.sh BUILD_DIR        (called by scripts/bench; BENCH_ONLY=files)
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:?build folder}
runs=${BENCH_RUNS:-10}
small=${BENCH_SMALL_FILES:-30000}
large=${BENCH_LARGE_FILES:-240}

for tool in fdupes jdupes hyperfine; do
    command -v $tool >/dev/null || { echo "bench: $tool is missing (scripts/install-deps)" >&2; exit 1; }
done
cmake --build "$dir" -j2 --target clean-cli
cli=$PWD/$dir/bin/clean-cli
rules=$PWD/data/linux/extrules.xml

base=build/bench-files
tree=$PWD/$base/tree
want="small=$small large=$large"
if [ "$(cat "$base/params" 2>/dev/null)" != "$want" ]; then
    rm -rf "$base"
    mkdir -p "$tree"
    echo "bench: generating $small small and $large large files into $base"
    python3 - "$tree" "$small" "$large" <<'PY'
import os, random, sys
root, small, large = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(7)
def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
for i in range(small):
    write(f"{root}/d{i % 200}/s{i}.txt", rng.randbytes(rng.randint(100, 8000)))
# A third unique, a third copied once, a sixth same size and head but
# another tail, the rest same size with other heads.
exts = ["mp4", "zip", "pdf", "iso", "jpg"]
for i in range(large):
    size = 1048576 + rng.randint(1, 2 * 1048576)
    data = rng.randbytes(size)
    path = f"{root}/d{i % 200}/big{i}.{exts[i % 5]}"
    write(path, data)
    kind = i % 6
    if kind in (1, 2):
        write(f"{root}/copies/c{i}.{exts[i % 5]}", data)
    elif kind == 3:
        write(f"{root}/tails/t{i}.{exts[i % 5]}", data[:-1] + bytes([data[-1] ^ 1]))
    elif kind == 4:
        write(f"{root}/heads/h{i}.{exts[i % 5]}", bytes([data[0] ^ 1]) + data[1:])
PY
    echo "$want" >"$base/params"
fi

# The same answers first.
ours_large=$("$cli" extension --mode big --rules "$rules" --json "$tree" 2>/dev/null |
    python3 -c 'import json,sys; r=json.load(sys.stdin); print(sum(len(c.get("files",[])) for c in r["categories"]))')
find_large=$(find "$tree" -type f -size +1M | wc -l)
ours_groups=$("$cli" extension --mode dup --rules "$rules" --json "$tree" 2>/dev/null |
    python3 -c 'import json,sys; r=json.load(sys.stdin); print(sum(len(c.get("groups",[])) for c in r["categories"]))')
fdupes_groups=$(fdupes -q -r -G 1048577 "$tree" | awk 'BEGIN{n=0; g=0} /^$/{if(g){n++}; g=0; next} {g=1} END{if(g)n++; print n}')
if [ "$ours_large" != "$find_large" ] || [ "$ours_groups" != "$fdupes_groups" ]; then
    echo "bench: results differ: large $ours_large vs find $find_large; groups $ours_groups vs fdupes $fdupes_groups" >&2
    exit 1
fi
echo "tree: $tree, $small small files, $find_large files over 1 MiB, $fdupes_groups duplicate groups"
echo "machine: $(nproc) cores, $(uname -sr); cache: warm; load average: $(cut -d" " -f1-3 /proc/loadavg)"

json=$(mktemp)
trap 'rm -f "$json"' EXIT
hyperfine --style basic --warmup 2 --runs "$runs" --export-json "$json" \
    -n big "$cli extension --mode big --rules $rules --json $tree" \
    -n find "find $tree -type f -size +1M -printf '%s %p\n'" \
    -n dup "$cli extension --mode dup --rules $rules --json $tree" \
    -n fdupes "fdupes -q -r -G 1048577 $tree" \
    -n jdupes "jdupes -r -X size+=:1048577 $tree" >/dev/null

python3 - "$json" <<'PY'
import json, statistics, sys
results = {r["command"]: r["times"] for r in json.load(open(sys.argv[1]))["results"]}
print("\n%-11s %9s %9s %9s   (ms)" % ("command", "min", "median", "max"))
for name, times in results.items():
    print("%-11s %9.1f %9.1f %9.1f" % (name, min(times) * 1e3, statistics.median(times) * 1e3, max(times) * 1e3))
median = {name: statistics.median(times) for name, times in results.items()}
print("\nratios of medians (below 1: clean-cli is faster)")
for ours, theirs in (("big", "find"), ("dup", "fdupes"), ("dup", "jdupes")):
    print("  %-10s / %-7s %5.2f" % (ours, theirs, median[ours] / median[theirs]))
PY
