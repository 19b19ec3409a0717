#!/usr/bin/env bash
# Times converting an export archive with quillfen-cli against extracting it
# with tar and converting the extracted folder, and checks that both give
# the same mailboxes byte for byte.
#
#   bench/archive.sh [messages]          (default 20000)
#
# BUILD names the build folder (default build). The export comes from
# $BUILD/bench/gen_export when that program exists, else from
# $BUILD/bench/bench_archive generate. When the
# command line does not take an archive yet, the archive is converted by
# $BUILD/bench/bench_archive convert instead.
set -euo pipefail

BUILD=${BUILD:-build}
MESSAGES=${1:-20000}
CLI=$BUILD/quillfen-cli
BENCH=$BUILD/bench/bench_archive

for program in "$CLI" "$BENCH"; do
  [ -x "$program" ] || { echo "archive.sh: $program is missing; build first" >&2; exit 2; }
done

work=$(mktemp -d /tmp/quillfen-archive-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

echo "generating $MESSAGES messages..."
if [ -x "$BUILD/bench/gen_export" ]; then
  "$BUILD/bench/gen_export" "$work/generated" --messages "$MESSAGES" >/dev/null
else
  "$BENCH" generate "$work/generated" "$MESSAGES"
fi
# Sorted by name, the archive's order is the walker's order within every
# folder, so both ways must give identical mailboxes.
tar czf "$work/export.tgz" --sort=name -C "$work/generated" .
echo "archive: $(du -h "$work/export.tgz" | cut -f1)"
sync

seconds() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }

# The archive converts as if extracted into $work/export, so the folder way
# extracts exactly there.
start=$(seconds)
if "$CLI" -q "$work/export.tgz" "$work/direct" >/dev/null 2>&1; then
  how="quillfen-cli"
else
  rm -rf "$work/direct"
  "$BENCH" convert "$work/export.tgz" "$work/direct" >/dev/null
  how="bench_archive convert"
fi
direct=$(elapsed "$start" "$(seconds)")

start=$(seconds)
mkdir -p "$work/export"
tar xzf "$work/export.tgz" -C "$work/export"
extracted=$(seconds)
"$CLI" -q "$work/export" "$work/via-folder" >/dev/null
finished=$(seconds)

untar=$(elapsed "$start" "$extracted")
convert=$(elapsed "$extracted" "$finished")
total=$(elapsed "$start" "$finished")
printf 'archive (%s):               %6.2f s\n' "$how" "$direct"
printf 'tar xzf + quillfen-cli folder:  %6.2f s (tar %.2f s + conversion %.2f s)\n' \
  "$total" "$untar" "$convert"
printf 'ratio: %.2f\n' "$(echo "$direct / $total" | bc -l)"

if diff -r -q "$work/direct" "$work/via-folder" >/dev/null; then
  echo "outputs identical"
else
  echo "outputs DIFFER" >&2
  exit 1
fi
