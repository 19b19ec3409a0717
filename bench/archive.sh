#!/usr/bin/env bash
# Times converting an export archive with quillfen-cli against one zlib
# decompression pass of the same archive (bench/zlib_pass.cpp), the least any
# conversion of a .tgz has to do; then against extracting it with tar and
# converting the extracted folder, and checks that both ways give the same
# mailboxes byte for byte.
#
#   bench/archive.sh [messages]          (default 20000)
#
# Settings through the environment:
#   BUILD   the build folder                      (default: build)
#   RUNS    alternating runs of each way          (default: 5)
#   BEFORE  another quillfen-cli (say, a build of an earlier commit), timed
#           in the same alternation, so that before and after are measured
#           under the same load
# Prints the medians of wall and CPU time, peak resident memory, and the
# ratio ".tgz conversion / one zlib pass" (target <= 1.3).
set -euo pipefail

BUILD=${BUILD:-build}
MESSAGES=${1:-20000}
RUNS=${RUNS:-5}
BEFORE=${BEFORE:-}
CLI=$BUILD/quillfen-cli
ZLIB_PASS=$BUILD/bench/zlib_pass

if [[ ! -x $ZLIB_PASS && -f $BUILD/CMakeCache.txt ]]; then
  cmake --build "$BUILD" --target zlib_pass >/dev/null
fi
for program in "$CLI" "$ZLIB_PASS" "$BUILD/bench/gen_export" ${BEFORE:+"$BEFORE"}; do
  [[ -x $program ]] || { echo "archive.sh: $program is missing; build first" >&2; exit 2; }
done
if [[ ! -x /usr/bin/time ]]; then
  echo "archive.sh: /usr/bin/time is missing; run scripts/install-deps" >&2
  exit 2
fi

work=$(mktemp -d /tmp/quillfen-archive-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

echo "generating $MESSAGES messages..."
"$BUILD/bench/gen_export" "$work/generated" --messages "$MESSAGES" >/dev/null
# Sorted by name, the archive's order is the walker's order within every
# folder, so both ways must give identical mailboxes; a folder also comes
# before its batch folders, as in a real export.
tar czf "$work/export.tgz" --sort=name -C "$work/generated" .
rm -rf "$work/generated"
echo "archive: $(du -h "$work/export.tgz" | cut -f1)"

now_ns() { date +%s%N; }

median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

ratio() { awk -v x="$1" -v y="$2" 'BEGIN { if (y > 0) printf "%.2f", x / y; else print "n/a" }'; }

# timed NAME COMMAND...: runs COMMAND once (a conversion into a fresh
# $work/out) and appends wall ms, CPU ms and peak RSS KiB to NAME_wall,
# NAME_cpu and NAME_rss.
timed() {
  local name=$1
  shift
  rm -rf "$work/out"
  sync
  local usage=$work/usage.txt start end user sys rss
  start=$(now_ns)
  if ! /usr/bin/time -o "$usage" -f '%U %S %M' "$@" >"$work/last.log" 2>&1; then
    echo "archive.sh: $* failed:" >&2
    cat "$work/last.log" >&2
    exit 1
  fi
  end=$(now_ns)
  read -r user sys rss <"$usage"
  eval "${name}_wall+=($(((end - start) / 1000000)))"
  eval "${name}_cpu+=($(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%d", (u + s) * 1000 }'))"
  eval "${name}_rss+=($rss)"
}

summary() {
  local name=$1 label=$2
  local -n wall=${name}_wall cpu=${name}_cpu rss=${name}_rss
  printf '  %-28s wall %6s ms  cpu %6s ms  peak RSS %6.1f MiB   (wall: %s)\n' "$label" \
    "$(median "${wall[@]}")" "$(median "${cpu[@]}")" \
    "$(awk -v k="$(median "${rss[@]}")" 'BEGIN { print k / 1024 }')" "${wall[*]}"
}

ways=(z a)
[[ -n $BEFORE ]] && ways+=(m)
for name in "${ways[@]}"; do eval "${name}_wall=() ${name}_cpu=() ${name}_rss=()"; done

echo "warming the cache..."
"$ZLIB_PASS" "$work/export.tgz" >/dev/null
rm -rf "$work/out" && "$CLI" -q "$work/export.tgz" "$work/out" >/dev/null
for ((run = 1; run <= RUNS; run++)); do
  echo "   run $run of $RUNS"
  for name in "${ways[@]}"; do
    case $name in
      z) timed z "$ZLIB_PASS" "$work/export.tgz" ;;
      a) timed a "$CLI" -q "$work/export.tgz" "$work/out" ;;
      m) timed m "$BEFORE" -q "$work/export.tgz" "$work/out" ;;
    esac
  done
done

echo
echo "== .tgz conversion against one zlib pass ($MESSAGES messages, medians of $RUNS runs)"
summary z "(z) one zlib pass"
summary a "(a) quillfen-cli SOURCE.tgz"
[[ -n $BEFORE ]] && summary m "(m) before: $(basename "$BEFORE")"
echo "  a/z = $(ratio "$(median "${a_wall[@]}")" "$(median "${z_wall[@]}")") wall," \
  "$(ratio "$(median "${a_cpu[@]}")" "$(median "${z_cpu[@]}")") cpu   (target <= 1.3)"
if [[ -n $BEFORE ]]; then
  echo "  m/z = $(ratio "$(median "${m_wall[@]}")" "$(median "${z_wall[@]}")") wall," \
    "$(ratio "$(median "${m_cpu[@]}")" "$(median "${z_cpu[@]}")") cpu"
  echo "  a/m = $(ratio "$(median "${a_wall[@]}")" "$(median "${m_wall[@]}")") wall," \
    "$(ratio "$(median "${a_cpu[@]}")" "$(median "${m_cpu[@]}")") cpu"
fi

# The archive converts as if extracted into $work/export, so the folder way
# extracts exactly there.
seconds() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }
rm -rf "$work/out"
start=$(seconds)
"$CLI" -q "$work/export.tgz" "$work/direct" >/dev/null
direct=$(elapsed "$start" "$(seconds)")
start=$(seconds)
mkdir -p "$work/export"
tar xzf "$work/export.tgz" -C "$work/export"
extracted=$(seconds)
"$CLI" -q "$work/export" "$work/via-folder" >/dev/null
finished=$(seconds)

echo
echo "== against extracting first (one run)"
printf '  quillfen-cli SOURCE.tgz:          %6.2f s\n' "$direct"
printf '  tar xzf + quillfen-cli folder:    %6.2f s (tar %.2f s + conversion %.2f s)\n' \
  "$(elapsed "$start" "$finished")" "$(elapsed "$start" "$extracted")" \
  "$(elapsed "$extracted" "$finished")"

# The indexes hold modification times, which differ; the mailboxes must not.
if diff -r -q -x .quillfen "$work/direct" "$work/via-folder" >/dev/null; then
  echo "  outputs identical"
else
  echo "  outputs DIFFER" >&2
  exit 1
fi
