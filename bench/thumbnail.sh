#!/usr/bin/env bash
# Times `orinel-render --thumbnail 256` on every sound corpus book (a file
# manager's "large" thumbnail; the aim is at most 100 ms a book) against a
# reference run of the same program in the same script: the book's cover
# page laid out and written at 600x800 (`-o`), what a thumbnail would cost by
# drawing the page. The table gives medians and the ratio thumbnail / page.
#
#   bench/thumbnail.sh [ORINEL_RENDER] [RUNS]
#
# ORINEL_RENDER defaults to build/port-qt/orinel-render; RUNS to 5.
set -euo pipefail
cd "$(dirname "$0")/.."

render=${1:-build/port-qt/orinel-render}
runs=${2:-5}
corpus=../shared/corpus
[ -x "$render" ] || { echo "no orinel-render at $render (build it first, or pass its path)" >&2; exit 1; }

unset QT_QPA_PLATFORM # as a file manager starts it
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Median wall time in milliseconds of `runs` runs of the command.
median_ms() {
  local times=() start end
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

printf '%-52s %10s %10s %7s\n' book thumb_ms page_ms ratio
worst=0
for book in "$corpus"/*; do
  name=$(basename "$book")
  case $name in broken-* | MANIFEST.tsv | README.md) continue ;; esac
  thumb=$(median_ms "$render" --thumbnail 256 "$book" "$work/t.png")
  page=$(median_ms "$render" --width 600 --height 800 -o "$work/p.png" "$book")
  ratio=$(awk -v a="$thumb" -v b="$page" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
  printf '%-52s %10s %10s %7s\n' "$name" "$thumb" "$page" "$ratio"
  [ "$thumb" -gt "$worst" ] && worst=$thumb
done
echo "slowest thumbnail: ${worst} ms (aim: 100 ms)"
