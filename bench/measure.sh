# Shared by the benchmark scripts: `measure CMD...` runs CMD `runs` times and
# prints "median_ms peak_kb" (peak over the runs); `need_tools` installs
# mupdf-tools and time when missing. Expects $runs and $work.

need_tools() {
  local need=()
  command -v mutool >/dev/null 2>&1 || need+=(mupdf-tools)
  [ -x /usr/bin/time ] || need+=(time)
  if [ ${#need[@]} -gt 0 ]; then
    local SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    echo "installing ${need[*]}" >&2
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  fi
}

measure() {
  local times=() peak=0 start end kb
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    /usr/bin/time -f "%M" -o "$work/mem" "$@" >/dev/null 2>&1 || { echo "fail 0"; return; }
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000 )))
    kb=$(tail -n 1 "$work/mem")
    [ "$kb" -gt "$peak" ] && peak=$kb
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  awk -v us="$median" -v kb="$peak" 'BEGIN {printf "%.1f %d\n", us / 1000, kb}'
}
