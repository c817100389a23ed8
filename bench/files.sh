#!/usr/bin/env bash
# The large-file and duplicate walks of clean-cli against the tools a user
# would otherwise reach for, on generated trees, warm cache, in one run:
#   clean-cli extension --mode big  vs  find -size +1M, over BENCH_BIG_FILES
#       (default 200,000) files from tools/gen-tree;
#   clean-cli extension --mode dup  vs  fdupes, jdupes and rdfind, over a tree
#       of small files and BENCH_LARGE_FILES (default 700) files of 1-3 MiB:
#       unique ones, copies, and traps that share a size and the first
#       128 KiB (or all but the first byte) with another file.
# The answers are compared first; then hyperfine times each command, and
# every tool's groups are checked byte for byte (false groups) and its peak
# memory measured.
#
#   bench/files.sh BUILD_DIR        (called by scripts/bench; BENCH_ONLY=files)
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:?build folder}
runs=${BENCH_RUNS:-10}
bigfiles=${BENCH_BIG_FILES:-200000}
small=${BENCH_SMALL_FILES:-20000}
large=${BENCH_LARGE_FILES:-700}

for tool in fdupes jdupes rdfind hyperfine; do  # and /usr/bin/time (package time) for memory
    command -v $tool >/dev/null || { echo "bench: $tool is missing (scripts/install-deps)" >&2; exit 1; }
done
cmake --build "$dir" -j2 --target clean-cli
cli=$PWD/$dir/bin/clean-cli
base=$PWD/build/bench-files
mkdir -p "$base"

# ---- large files ----
bigtree=$base/big
if [ "$(cat "$base/big.params" 2>/dev/null)" != "$bigfiles" ]; then
    rm -rf "$bigtree"
    echo "bench: generating $bigfiles files into $bigtree"
    tools/gen-tree "$bigtree" --files "$bigfiles" --seed 3 >/dev/null
    echo "$bigfiles" >"$base/big.params"
fi
# One category for every extension gen-tree writes, so find and the walk
# look for the same files: those over 1 MiB with an extension.
bigrules=$base/big-rules.xml
cat >"$bigrules" <<'XML'
<wu><fn><cd ka="1" vk="1" ob="log|tmp|txt|dat|cache|bin|json|jpg|png|xml|old|db|bak|gz"/></fn>
<dq><aa ka="1" rc="1" sv="All"/></dq></wu>
XML
ours=$("$cli" extension --mode big --rules "$bigrules" --json "$bigtree" 2>/dev/null |
    python3 -c 'import json,sys; r=json.load(sys.stdin); print(sum(len(c.get("files",[])) for c in r["categories"]), r["total"])')
theirs=$(find "$bigtree" -type f -size +1M -name '*.*' -printf '%s\n' | awk '{ n++; s += $1 } END { printf "%d %.0f\n", n, s }')
if [ "$ours" != "$theirs" ]; then
    echo "bench: large files differ: clean-cli $ours, find $theirs (count bytes)" >&2
    exit 1
fi

# ---- duplicates ----
duptree=$base/dup
want="small=$small large=$large"
if [ "$(cat "$base/dup.params" 2>/dev/null)" != "$want" ]; then
    rm -rf "$duptree"
    echo "bench: generating $small small and $large large files into $duptree"
    python3 - "$duptree" "$small" "$large" <<'PY'
import os, random, sys
root, small, large = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(7)
def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
for i in range(small):
    write(f"{root}/d{i % 200}/s{i}.txt", rng.randbytes(rng.randint(100, 8000)))
exts = ["mp4", "zip", "pdf", "iso", "jpg"]
for i in range(large):
    size = 1048576 + rng.randint(1, 2 * 1048576)
    data = rng.randbytes(size)
    ext = exts[i % 5]
    write(f"{root}/d{i % 200}/big{i}.{ext}", data)
    kind = i % 6
    if kind in (1, 2):      # a true copy
        write(f"{root}/copies/c{i}.{ext}", data)
    elif kind == 3:         # same size and head, another last byte
        write(f"{root}/tails/t{i}.{ext}", data[:-1] + bytes([data[-1] ^ 1]))
    elif kind == 4:         # same size and head, another byte in the middle
        mid = 131072 + (size - 131072) // 2
        write(f"{root}/middles/m{i}.{ext}", data[:mid] + bytes([data[mid] ^ 1]) + data[mid + 1:])
PY
    echo "$want" >"$base/dup.params"
fi
duprules=$PWD/data/linux/extrules.xml
bytes=$(du -sb "$duptree" | cut -f1)
count=$(find "$duptree" -type f | wc -l)

# Every tool's groups as JSON lists of paths, then checked byte for byte.
groups=$base/groups
mkdir -p "$groups"
"$cli" extension --mode dup --rules "$duprules" --json "$duptree" 2>/dev/null |
    python3 -c 'import json,sys; r=json.load(sys.stdin); print(json.dumps([g["files"] for c in r["categories"] for g in c.get("groups",[])]))' >"$groups/clean-cli.json"
blocks_to_json='import json,sys; t=sys.stdin.read().strip(); print(json.dumps([b.splitlines() for b in t.split("\n\n") if b.strip()]))'
fdupes -q -r -G 1048577 "$duptree" | python3 -c "$blocks_to_json" >"$groups/fdupes.json"
jdupes -q -r -X size+=:1048577 "$duptree" 2>/dev/null | python3 -c "$blocks_to_json" >"$groups/jdupes.json"
(cd "$groups" && rdfind -minsize 1048577 -outputname rdfind.txt "$duptree" >/dev/null)
python3 - "$groups/rdfind.txt" >"$groups/rdfind.json" <<'PY'
import collections, json, sys
by_id = collections.defaultdict(list)
for line in open(sys.argv[1]):
    if line.startswith("#"):
        continue
    parts = line.rstrip("\n").split(" ", 7)
    if len(parts) == 8 and parts[0] != "DUPTYPE_UNKNOWN":
        by_id[parts[1].lstrip("-")].append(parts[7])
print(json.dumps([g for g in by_id.values() if len(g) > 1]))
PY
python3 - "$groups" <<'PY'
import hashlib, json, os, sys
folder = sys.argv[1]
def digest(path, cache={}):
    if path not in cache:
        h = hashlib.sha256()
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                h.update(block)
        cache[path] = h.hexdigest()
    return cache[path]
print("\n%-10s %7s %13s" % ("tool", "groups", "false groups"))
for tool in ("clean-cli", "fdupes", "jdupes", "rdfind"):
    found = json.load(open(os.path.join(folder, tool + ".json")))
    false = sum(1 for g in found if len({digest(p) for p in g}) > 1)
    print("%-10s %7d %13d" % (tool, len(found), false))
PY
ours_groups=$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))))' "$groups/clean-cli.json")
fdupes_groups=$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))))' "$groups/fdupes.json")
if [ "$ours_groups" != "$fdupes_groups" ]; then
    echo "bench: duplicate groups differ: clean-cli $ours_groups, fdupes $fdupes_groups" >&2
    exit 1
fi

echo
echo "large-file tree: $bigtree, $bigfiles files; duplicate tree: $duptree, $count files, $bytes bytes"
echo "machine: $(nproc) cores, $(uname -sr); cache: warm; load average: $(cut -d" " -f1-3 /proc/loadavg)"

json=$(mktemp)
trap 'rm -f "$json"' EXIT
hyperfine --style basic --warmup 2 --runs "$runs" --export-json "$json" \
    -n big "$cli extension --mode big --rules $bigrules --json $bigtree" \
    -n find "find $bigtree -type f -size +1M -name '*.*' -printf '%s %p\n'" \
    -n dup "$cli extension --mode dup --rules $duprules --json $duptree" \
    -n fdupes "fdupes -q -r -G 1048577 $duptree" \
    -n jdupes "jdupes -q -r -X size+=:1048577 $duptree" \
    -n rdfind "rdfind -minsize 1048577 -outputname $groups/timed.txt $duptree" >/dev/null

peak() {  # peak resident memory of one run, KiB (GNU time; python's own would count in a fork)
    if [ -x /usr/bin/time ]; then
        /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1
    else
        echo "?"
    fi
}
mem_big=$(peak "$cli" extension --mode big --rules "$bigrules" --json "$bigtree")
mem_find=$(peak find "$bigtree" -type f -size +1M -name '*.*' -printf '%s %p\n')
mem_dup=$(peak "$cli" extension --mode dup --rules "$duprules" --json "$duptree")
mem_fdupes=$(peak fdupes -q -r -G 1048577 "$duptree")
mem_jdupes=$(peak jdupes -q -r -X size+=:1048577 "$duptree")
mem_rdfind=$(peak rdfind -minsize 1048577 -outputname "$groups/peak.txt" "$duptree")

python3 - "$json" "$mem_big" "$mem_find" "$mem_dup" "$mem_fdupes" "$mem_jdupes" "$mem_rdfind" <<'PY'
import json, statistics, sys
results = {r["command"]: r["times"] for r in json.load(open(sys.argv[1]))["results"]}
memory = dict(zip(["big", "find", "dup", "fdupes", "jdupes", "rdfind"], sys.argv[2:]))
print("\n%-8s %9s %9s %9s %12s" % ("command", "min ms", "median ms", "max ms", "peak KiB"))
for name, times in results.items():
    print("%-8s %9.1f %9.1f %9.1f %12s" % (name, min(times) * 1e3, statistics.median(times) * 1e3,
                                           max(times) * 1e3, memory[name]))
median = {name: statistics.median(times) for name, times in results.items()}
print("\nratios of medians (below 1: clean-cli is faster)")
for ours, theirs in (("big", "find"), ("dup", "fdupes"), ("dup", "jdupes"), ("dup", "rdfind")):
    print("  %-4s / %-7s %5.2f" % (ours, theirs, median[ours] / median[theirs]))
PY
