#!/usr/bin/env bash
# Times the folder walker against `find DIR -type f | wc -l` on the same tree
# of 100,000 files in 1,000 folders, alternating the two so that both see the
# same cache state, and prints the medians and their ratio.
#
# Settings through the environment:
#   BUILD  build folder for the Release build   (default: build-bench)
#   TREE   where the tree is generated once     (default: $TMPDIR/quillfen-walk-tree)
#   RUNS   timed runs of each                   (default: 5)
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$source_dir/build-bench}
tree=${TREE:-${TMPDIR:-/tmp}/quillfen-walk-tree}
runs=${RUNS:-5}

# SKIP_BUILD=1 takes the build folder as already built (bench/run does so).
if [[ -z ${SKIP_BUILD:-} ]]; then
  cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLFEN_BUILD_UI=OFF >/dev/null
  cmake --build "$build" -j2 --target bench_walk >/dev/null
fi
bench="$build/bench/bench_walk"

if [[ ! -d $tree ]]; then
  "$bench" generate "$tree" --files 100000 --folders 1000
fi

now_ns() { date +%s%N; }

# Prints the median of the numbers given.
median() {
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# One untimed run of each warms the cache.
"$bench" walk "$tree" >/dev/null
find "$tree" -type f | wc -l >/dev/null

# cpu_of FILE: the user and system milliseconds /usr/bin/time wrote there.
cpu_of() { awk '{ printf "%d", ($1 + $2) * 1000 }' "$1"; }

walk_ms=()
find_ms=()
walk_cpu=()
find_cpu=()
usage=$(mktemp)
trap 'rm -f "$usage"' EXIT
for ((run = 1; run <= runs; run++)); do
  start=$(now_ns)
  /usr/bin/time -o "$usage" -f '%U %S' "$bench" walk "$tree" >/dev/null
  walk_ms+=($(( ($(now_ns) - start) / 1000 )))
  walk_cpu+=($(cpu_of "$usage"))
  start=$(now_ns)
  /usr/bin/time -o "$usage" -f '%U %S' sh -c 'find "$1" -type f | wc -l' sh "$tree" >/dev/null
  find_ms+=($(( ($(now_ns) - start) / 1000 )))
  find_cpu+=($(cpu_of "$usage"))
done

walk_median=$(median "${walk_ms[@]}")
find_median=$(median "${find_ms[@]}")
echo "tree: $tree ($(find "$tree" -type f | wc -l) files, $(find "$tree" -mindepth 1 -type d | wc -l) folders)"
echo "walker (whole process), microseconds: ${walk_ms[*]}"
echo "find | wc -l, microseconds:            ${find_ms[*]}"
awk -v w="$walk_median" -v f="$find_median" -v wc="$(median "${walk_cpu[@]}")" -v fc="$(median "${find_cpu[@]}")" \
  'BEGIN { printf "median walker %.1f ms (cpu %d ms), median find %.1f ms (cpu %d ms), ratio %.2f wall, %.2f cpu\n",
           w / 1000, wc, f / 1000, fc, w / f, (fc > 0 ? wc / fc : 0) }'
echo "load $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "inside one walker process:"
"$bench" walk "$tree" --runs "$runs"
