#!/usr/bin/env bash
# A 4 MB FictionBook made at run time from a corpus book (its main body's
# sections repeated), then: orinel-render's first text entry, whole
# (--full), against `mutool draw` of page 1 of the same file; wall time from
# start to PNG and peak memory, medians of several runs.
#
#   bench/fb2-vs-mutool.sh [ORINEL_RENDER] [RUNS] [BOOK]
#
# Targets: ours <= 0.25 x mutool's time and <= 1.5 x mutool's peak memory.
set -euo pipefail
cd "$(dirname "$0")/.."

render=${1:-build/port-qt/orinel-render}
runs=${2:-5}
source_book=${3:-../shared/corpus/fb2-fb2cng-_Test.fb2}
target_bytes=$((4 * 1024 * 1024))

if [ ! -x "$render" ]; then
  echo "no orinel-render at $render (build the project first, or pass its path)" >&2
  exit 1
fi
. bench/measure.sh
need_tools

export QT_QPA_PLATFORM=offscreen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
book="$work/big.fb2"

# The main body (the first <body> without attributes) repeated up to the size.
perl -0777 -e '
  my ($target) = @ARGV[1];
  open(my $in, "<", $ARGV[0]) or die; local $/; my $s = <$in>;
  $s =~ /(<body>)(.*?)(<\/body>)/s or die "no main body";
  my ($pre, $inner, $post) = ($`, $2, $'"'"');
  my $body = $inner;
  $body .= $inner while length($pre) + length($body) + length($post) + 14 < $target;
  print $pre, "<body>", $body, "</body>", $post;
' "$source_book" "$target_bytes" >"$book"

entries=$("$render" --info "$book" 2>/dev/null | awk -F': ' '/^spine:/ {print $2}')
read -r ours_ms ours_kb < <(measure "$render" --width 800 --height 1000 --font-size 20 --chapter 1 --full \
  -o "$work/ours.png" "$book")
read -r mu_ms mu_kb < <(measure mutool draw -q -a -W 800 -H 1000 -S 20 -o "$work/mutool.png" "$book" 1)
printf 'book: %s bytes, %s entries (from %s)\n' "$(stat -c %s "$book")" "$entries" "$(basename "$source_book")"
printf '%-22s %10s %10s\n' "" "time" "peak MB"
printf '%-22s %7s ms %10.1f\n' "orinel-render entry 1" "$ours_ms" "$(awk -v k="$ours_kb" 'BEGIN {print k / 1024}')"
printf '%-22s %7s ms %10.1f\n' "mutool page 1" "$mu_ms" "$(awk -v k="$mu_kb" 'BEGIN {print k / 1024}')"
awk -v o="$ours_ms" -v m="$mu_ms" -v ok="$ours_kb" -v mk="$mu_kb" \
  'BEGIN { printf "ratio ours/mutool: time %.2f (target <= 0.25), memory %.2f (target <= 1.5)\n", o / m, ok / mk }'
