#!/usr/bin/env bash
# Times converting an export archive with quillfen-cli against one zlib
# decompression pass of the same archive (bench/zlib_pass.cpp) and one ISA-L
# pass (bench/isal_pass.cpp, where the build has ISA-L), the least any
# conversion of a .tgz has to do with either inflater, and an ISA-L pass that
# also writes the inflated bytes to a file in 1 MiB batches (the least any
# conversion does that writes its mailboxes, nothing parsed); then against
# extracting it with tar and converting the extracted folder, and checks that
# both ways give the same mailboxes byte for byte. Every row gives wall and
# CPU time.
#
#   bench/archive.sh [messages]          (default 20000)
#
# Settings through the environment:
#   BUILD   the build folder                      (default: build)
#   RUNS    alternating runs of each way          (default: 5)
#   BEFORE  another quillfen-cli (say, a build of an earlier commit), timed
#           in the same alternation, so that before and after are measured
#           under the same load
#   KEEP    a folder where the generated archive is kept and reused by later
#           runs (default: generated afresh into a temporary folder)
# Prints the medians of wall and CPU time, peak resident memory, and the
# ratios ".tgz conversion / one zlib pass" (target <= 0.6), ".tgz
# conversion / one ISA-L pass" (target <= 1.3) and ".tgz conversion / ISA-L
# pass with its writes".
set -euo pipefail

BUILD=${BUILD:-build}
MESSAGES=${1:-20000}
RUNS=${RUNS:-5}
BEFORE=${BEFORE:-}
CLI=$BUILD/quillfen-cli
ZLIB_PASS=$BUILD/bench/zlib_pass
ISAL_PASS=$BUILD/bench/isal_pass
KEEP=${KEEP:-}

if [[ ! -x $ZLIB_PASS && -f $BUILD/CMakeCache.txt ]]; then
  cmake --build "$BUILD" --target zlib_pass >/dev/null
fi
# The ISA-L floor exists only in a build that found ISA-L.
if [[ ! -x $ISAL_PASS && -f $BUILD/CMakeCache.txt ]]; then
  cmake --build "$BUILD" --target isal_pass >/dev/null 2>&1 || true
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

if [[ -n $KEEP && -f $KEEP/export-$MESSAGES.tgz ]]; then
  cp "$KEEP/export-$MESSAGES.tgz" "$work/export.tgz"
else
  echo "generating $MESSAGES messages..."
  "$BUILD/bench/gen_export" "$work/generated" --messages "$MESSAGES" >/dev/null
  # Sorted by name, the archive's order is the walker's order within every
  # folder, so both ways must give identical mailboxes; a folder also comes
  # before its batch folders, as in a real export.
  tar czf "$work/export.tgz" --sort=name -C "$work/generated" .
  rm -rf "$work/generated"
  if [[ -n $KEEP ]]; then mkdir -p "$KEEP" && cp "$work/export.tgz" "$KEEP/export-$MESSAGES.tgz"; fi
fi
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

ways=(z)
[[ -x $ISAL_PASS ]] && ways+=(i w)
ways+=(a)
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
      i) timed i "$ISAL_PASS" "$work/export.tgz" ;;
      # Written to a file where the conversions write their folder, which
      # is removed before each run.
      w) timed w "$ISAL_PASS" "$work/export.tgz" "$work/out" ;;
      a) timed a "$CLI" -q "$work/export.tgz" "$work/out" ;;
      m) timed m "$BEFORE" -q "$work/export.tgz" "$work/out" ;;
    esac
  done
done

echo
echo "== .tgz conversion against one zlib pass and one ISA-L pass ($MESSAGES messages," \
  "medians of $RUNS runs, load $(cut -d' ' -f1-3 /proc/loadavg))"
summary z "(z) one zlib pass"
[[ -x $ISAL_PASS ]] && summary i "(i) one ISA-L pass" && summary w "(w) ISA-L pass, bytes written"
summary a "(a) quillfen-cli SOURCE.tgz"
[[ -n $BEFORE ]] && summary m "(m) before: $(basename "$BEFORE")"
echo "  a/z = $(ratio "$(median "${a_wall[@]}")" "$(median "${z_wall[@]}")") wall," \
  "$(ratio "$(median "${a_cpu[@]}")" "$(median "${z_cpu[@]}")") cpu   (target <= 0.6)"
if [[ -x $ISAL_PASS ]]; then
  echo "  a/i = $(ratio "$(median "${a_wall[@]}")" "$(median "${i_wall[@]}")") wall," \
    "$(ratio "$(median "${a_cpu[@]}")" "$(median "${i_cpu[@]}")") cpu   (target <= 1.3)"
  echo "  w/i = $(ratio "$(median "${w_wall[@]}")" "$(median "${i_wall[@]}")") wall," \
    "$(ratio "$(median "${w_cpu[@]}")" "$(median "${i_cpu[@]}")") cpu   (what the writes alone add)"
  echo "  a/w = $(ratio "$(median "${a_wall[@]}")" "$(median "${w_wall[@]}")") wall," \
    "$(ratio "$(median "${a_cpu[@]}")" "$(median "${w_cpu[@]}")") cpu"
fi
if [[ -n $BEFORE ]]; then
  echo "  m/z = $(ratio "$(median "${m_wall[@]}")" "$(median "${z_wall[@]}")") wall," \
    "$(ratio "$(median "${m_cpu[@]}")" "$(median "${z_cpu[@]}")") cpu"
  if [[ -x $ISAL_PASS ]]; then
    echo "  m/i = $(ratio "$(median "${m_wall[@]}")" "$(median "${i_wall[@]}")") wall," \
      "$(ratio "$(median "${m_cpu[@]}")" "$(median "${i_cpu[@]}")") cpu"
  fi
  echo "  a/m = $(ratio "$(median "${a_wall[@]}")" "$(median "${m_wall[@]}")") wall," \
    "$(ratio "$(median "${a_cpu[@]}")" "$(median "${m_cpu[@]}")") cpu"
fi

# The archive converts as if extracted into $work/export, so the folder way
# extracts exactly there.
# once NAME COMMAND...: runs COMMAND once; NAME_s and NAME_cpu get its wall
# and CPU seconds.
once() {
  local name=$1 start end user sys
  shift
  start=$(now_ns)
  /usr/bin/time -o "$work/usage.txt" -f '%U %S' "$@" >/dev/null
  end=$(now_ns)
  read -r user sys <"$work/usage.txt"
  printf -v "${name}_s" '%.2f' "$(awk -v n=$((end - start)) 'BEGIN { print n / 1e9 }')"
  printf -v "${name}_cpu" '%.2f' "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')"
}
rm -rf "$work/out"
once direct "$CLI" -q "$work/export.tgz" "$work/direct"
mkdir -p "$work/export"
once tar tar xzf "$work/export.tgz" -C "$work/export"
once folder "$CLI" -q "$work/export" "$work/via-folder"

echo
echo "== against extracting first (one run)"
printf '  quillfen-cli SOURCE.tgz:          %6.2f s, cpu %.2f s\n' "$direct_s" "$direct_cpu"
printf '  tar xzf + quillfen-cli folder:    %6.2f s, cpu %.2f s (tar %.2f s, cpu %.2f s + conversion %.2f s, cpu %.2f s)\n' \
  "$(awk -v a="$tar_s" -v b="$folder_s" 'BEGIN { print a + b }')" \
  "$(awk -v a="$tar_cpu" -v b="$folder_cpu" 'BEGIN { print a + b }')" \
  "$tar_s" "$tar_cpu" "$folder_s" "$folder_cpu"

# The indexes hold modification times, which differ; the mailboxes must not.
if diff -r -q -x .quillfen "$work/direct" "$work/via-folder" >/dev/null; then
  echo "  outputs identical"
else
  echo "  outputs DIFFER" >&2
  exit 1
fi
