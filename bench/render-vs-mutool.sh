#!/usr/bin/env bash
# Times orinel-render against `mutool draw` on the corpus books: our cover page
# and our first text chapter against mutool's first page of the same book,
# width 800, font size 20, PNG output. Several runs each; the table gives
# medians, the ratio mutool / ours per book, and the peak memory of both.
#
#   bench/render-vs-mutool.sh [ORINEL_RENDER] [RUNS]
#
# ORINEL_RENDER defaults to build/port-qt/orinel-render; RUNS to 5.
set -euo pipefail
cd "$(dirname "$0")/.."

render=${1:-build/port-qt/orinel-render}
runs=${2:-5}
corpus=../shared/corpus

if [ ! -x "$render" ]; then
  echo "no orinel-render at $render (build the project first, or pass its path)" >&2
  exit 1
fi

. bench/measure.sh
need_tools

export QT_QPA_PLATFORM=offscreen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The first reading-order entry that shows some text (cover pages and title
# pages often hold a picture only).
first_text_chapter() {
  local book=$1 count n chars
  count=$("$render" --info "$book" 2>/dev/null | awk -F': ' '/^spine:/ {print $2}')
  for ((n = 1; n <= ${count:-0}; n++)); do
    chars=$("$render" --chapter "$n" --text "$book" 2>/dev/null | wc -c)
    if [ "$chars" -ge 400 ]; then
      echo "$n"
      return
    fi
  done
  echo 1
}

printf '%-48s %10s %10s %6s %10s %8s %9s %9s\n' "book" "ours cover" "ours chap" "(n)" "mutool" "ratio" "ours MB" "mutool MB"
for book in "$corpus"/*.epub "$corpus"/*.fb2; do
  name=$(basename "$book")
  case "$name" in broken-*) continue ;; esac
  chapter=$(first_text_chapter "$book")
  read -r cover_ms cover_kb < <(measure "$render" --width 800 --height 1000 --font-size 20 -o "$work/cover.png" "$book")
  read -r chap_ms chap_kb < <(measure "$render" --width 800 --height 1000 --font-size 20 --chapter "$chapter" \
    -o "$work/chapter.png" "$book")
  read -r mu_ms mu_kb < <(measure mutool draw -q -a -W 800 -H 1000 -S 20 -o "$work/mutool.png" "$book" 1)
  ours_kb=$(( cover_kb > chap_kb ? cover_kb : chap_kb ))
  ratio=$(awk -v m="$mu_ms" -v o="$chap_ms" 'BEGIN { if (o > 0 && m != "fail") printf "%.1fx", m / o; else print "-" }')
  printf '%-48s %7s ms %7s ms %6s %7s ms %8s %9.1f %9.1f\n' "$name" "$cover_ms" "$chap_ms" "$chapter" "$mu_ms" "$ratio" \
    "$(awk -v k="$ours_kb" 'BEGIN {print k / 1024}')" "$(awk -v k="$mu_kb" 'BEGIN {print k / 1024}')"
done
echo "medians of $runs runs; ratio = mutool / our chapter (above 1: we are faster); MB = peak resident memory"

# What either program costs before there is anything to lay out: a page of one
# line. On small books this start-up is most of the time.
cat >"$work/line.xhtml" <<'PAGE'
<?xml version="1.0" encoding="UTF-8"?>
<html xmlns="http://www.w3.org/1999/xhtml"><head><title>line</title></head><body><p>One line.</p></body></html>
PAGE
read -r floor_ours _ < <(measure "$render" --width 800 --height 1000 --font-size 20 -o "$work/line.png" "$work/line.xhtml")
read -r floor_mu _ < <(measure mutool draw -q -a -W 800 -H 1000 -S 20 -o "$work/line-mutool.png" "$work/line.xhtml" 1)
echo "start-up floor (a page of one line): ours $floor_ours ms, mutool $floor_mu ms"
