#!/usr/bin/env bash
# A whole junk scan by clean-cli against du over the same folders, in one run,
# warm cache: a generated tree of BENCH_SCAN_FILES files (default 204000) in
# twelve folders, one rule each (whole walks, filtered walks, split walks),
# in five groups. Prints the timings, their ratio and the peak memory of both.
#
#   bench/scan.sh BUILD_DIR        (called by scripts/bench)
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:?build folder}
files=${BENCH_SCAN_FILES:-204000}
seed=${BENCH_SEED:-1}
runs=${BENCH_RUNS:-15}
folders=12

cmake --build "$dir" -j2 --target clean-cli
cli=$PWD/$dir/bin/clean-cli

base=build/bench-scan
tree=$PWD/$base/tree
want="files=$files seed=$seed"
if [ "$(cat "$base/params" 2>/dev/null)" != "$want" ]; then
    rm -rf "$base"
    mkdir -p "$tree"
    echo "bench: generating $files files in $folders folders into $base"
    for i in $(seq -w 1 $folders); do
        tools/gen-tree "$tree/f$i" --files $((files / folders)) --seed $((seed * 100 + 10#$i)) >/dev/null
    done
    echo "$want" >"$base/params"
fi

# One rule per folder: (group, program, detail kind, item, pattern).
rules=(
    "3 1 7000 1 *" "3 2 7000 1 *" "3 3 7000 1 *" "3 4 7000 1 *"
    "11 5 7000 2 *.log" "11 6 7000 2 *.log"
    "7 7 7000 3 *.tmp" "7 8 7000 3 *.tmp"
    "3 9 7006 21 *" "3 10 7006 21 *"
    "13 11 7000 4 *" "9 12 7000 5 *.dat"
)
xml=$base/rules.xml
{
    echo "<wu><hz>"
    for group in 3 7 9 11 13; do
        echo "<g cb=\"$group\" aw=\"Group $group\"><gd>"
        for spec in "${rules[@]}"; do
            read -r g p _ _ _ <<<"$spec"
            [ "$g" = "$group" ] && echo "<p ka=\"$p\" sv=\"Program $p\"/>"
        done
        echo "</gd></g>"
    done
    echo "</hz><op>"
    n=0
    for spec in "${rules[@]}"; do
        read -r g p kind item pattern <<<"$spec"
        n=$((n + 1))
        folder=$(printf "%s/f%02d" "$tree" $n)
        echo "<d gp=\"$p\" ka=\"$kind\" lq=\"1\"><dx><fa ar=\"$g\" hd=\"$item\" sv=\"Item\"><vg uk=\"$folder\" od=\"$pattern\"/></fa></dx></d>"
    done
    echo "</op></wu>"
} >"$xml"

# The same answer first: the scan's total is what find counts for the rules.
expected=0
n=0
for spec in "${rules[@]}"; do
    read -r _ _ _ _ pattern <<<"$spec"
    n=$((n + 1))
    folder=$(printf "%s/f%02d" "$tree" $n)
    bytes=$(find "$folder" -type f -iname "$pattern" -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f\n", s }')
    expected=$((expected + bytes))
done
total=$("$cli" scan --rules "$xml" --json 2>/dev/null | python3 -c 'import json,sys; print(json.load(sys.stdin)["total"])')
if [ "$total" != "$expected" ]; then
    echo "bench: the scan found $total bytes, find $expected" >&2
    exit 1
fi
count=$(find "$tree" -type f | wc -l)
echo "scan tree: $tree, $count files in $folders rule folders, rules total $total bytes"
echo "load average: $(cut -d" " -f1-3 /proc/loadavg)"

json=$(mktemp)
trap 'rm -f "$json"' EXIT
folder_list=$(printf "$tree/f%02d " $(seq 1 $folders))
hyperfine --style basic --warmup 3 --runs "$runs" --export-json "$json" \
    -n clean-cli-scan "$cli scan --rules $xml --json >/dev/null 2>&1" \
    -n du "du -s $folder_list >/dev/null" >/dev/null

# Peak resident memory of one run each, from the kernel's own accounting.
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
cli_peak=$(peak "$cli" scan --rules "$xml" --json)
du_peak=$(peak du -s $folder_list)

python3 - "$json" "$cli_peak" "$du_peak" <<'PY'
import json, statistics, sys
results = {r["command"]: r["times"] for r in json.load(open(sys.argv[1]))["results"]}
print("\n%-15s %9s %9s %9s   (ms, process start included)" % ("command", "min", "median", "max"))
for name, times in results.items():
    print("%-15s %9.1f %9.1f %9.1f" % (name, min(times) * 1e3, statistics.median(times) * 1e3, max(times) * 1e3))
ratio = statistics.median(results["clean-cli-scan"]) / statistics.median(results["du"])
print("\nratio of medians clean-cli scan / du -s: %.2f (below 1: the scan is faster)" % ratio)
print("peak memory: clean-cli scan %.1f MiB, du -s %.1f MiB" % (int(sys.argv[2]) / 1024, int(sys.argv[3]) / 1024))
PY
