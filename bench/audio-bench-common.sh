# Shared by the audio benchmarks against the lame command line; sourced, not run.

# The bench binary NAME from BUILD_DIR, or from build/release when it is built
# there, else build/default.
find_bench() {  # NAME [BUILD_DIR]
  local build=${2:-}
  if [ -z "$build" ]; then
    build=build/default
    [ -x "build/release/bench/$1" ] && build=build/release
  fi
  local bench="$build/bench/$1"
  [ -x "$bench" ] || { echo "build $bench first (cmake --build --preset default --target $1)" >&2; exit 1; }
  printf '%s\n' "$bench"
}

# A chord with a slow sweep and some noise, so the encoder has real work to do.
make_wav() {  # SECONDS OUT
  sox -q -n -r 44100 -c 2 -b 16 "$2" synth "$1" sine 220-880 sine 330 pinknoise \
    remix 1,3 2,3 gain -6
}

# Wall and CPU seconds of one command: "REAL USER SYS" into OUT.time, its
# output into OUT.txt.
timed() {  # OUT COMMAND...
  local out=$1; shift
  local TIMEFORMAT='%3R %3U %3S'
  { time "$@" >"$out.txt"; } 2>"$out.time"
}

# The best wall and CPU time of the ours?.time and lame?.time files in DIR,
# printed as "WHAT (best of 3): ..." and the ratios ours/lame.
print_best_ratio() {  # DIR WHAT [GOAL_TEXT]
  awk -v what="$2" -v goal="${3:-}" '
     function min(a, b) { return a == "" || b < a ? b : a }
     FILENAME ~ /\/ours[0-9].time$/ { ours_real = min(ours_real, $1); ours_cpu = min(ours_cpu, $2 + $3) }
     FILENAME ~ /\/lame[0-9].time$/ { lame_real = min(lame_real, $1); lame_cpu = min(lame_cpu, $2 + $3) }
     END {
       printf "%s (best of 3): ours %.2f s wall / %.2f s cpu, lame %.2f s wall / %.2f s cpu\n",
         what, ours_real, ours_cpu, lame_real, lame_cpu
       printf "ours/lame: wall %.3f, cpu %.3f%s\n", ours_real / lame_real, ours_cpu / lame_cpu,
         goal == "" ? "" : " (" goal ")"
     }' "$1"/ours?.time "$1"/lame?.time
}

# Music-like audio with transients: plucked notes in a loop, short noise bursts
# and a slow sweep under them, so seams between encoder segments land on
# attacks as well as on steady tones.
make_music_wav() {  # SECONDS OUT
  local seconds=$1 out=$2 dir
  dir=$(mktemp -d)
  local notes=(220 330 262 392 294 440 247 370) parts=() i=0
  for f in "${notes[@]}"; do
    i=$((i + 1))
    sox -q -n -r 44100 -c 2 -b 16 "$dir/n$i.wav" synth 0.23 pluck "$f" pluck "$((f * 3 / 2))" gain -3
    parts+=("$dir/n$i.wav")
    if [ $((i % 3)) -eq 0 ]; then
      sox -q -n -r 44100 -c 2 -b 16 "$dir/b$i.wav" synth 0.04 whitenoise gain -9 fade 0 0.04 0.03
      parts+=("$dir/b$i.wav")
    fi
  done
  sox -q "${parts[@]}" "$dir/bar.wav"
  local bar
  bar=$(soxi -D "$dir/bar.wav")
  local repeats
  repeats=$(awk -v s="$seconds" -v b="$bar" 'BEGIN { print int(s / b) + 1 }')
  sox -q "$dir/bar.wav" "$dir/loop.wav" repeat "$repeats" trim 0 "$seconds"
  sox -q -n -r 44100 -c 2 -b 16 "$dir/sweep.wav" synth "$seconds" sine 60:8000 gain -20
  sox -q -m "$dir/loop.wav" "$dir/sweep.wav" -b 16 "$out"
  rm -rf "$dir"
}
