#!/usr/bin/env bash
# A timed command-line comparison: one table of small planets rendered with --jobs 1 and
# with --jobs 2 (the same two threads in all), alternating, ROUNDS times each. Prints every
# wall time and the median of each; the maps of both are checked to be the same bytes.
#
#   bench/batch_jobs.sh [GLOBEFORGE_RENDER] [PLANETS] [ROUNDS] [WIDTHxHEIGHT]
set -euo pipefail
render=$(realpath "${1:-build/release/globeforge-render}")
planets=${2:-8}
rounds=${3:-3}
size=${4:-256x128}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf '%s\r\n' "GroundAutoCreate True" "CloudAutoCreate True" "CoastLevel 45" \
  "NumberOfCraters 20" "IceQuantity 15" "GroundXWarp 20" "GroundYWarp 10" \
  "CloudQuantity 5" "CloudXWarp 30" "CloudYWarp 10" \
  "OutputResolutionX ${size%x*}" "OutputResolutionY ${size#*x}" \
  "OutputColorMap color.png" "OutputBumpMap bump.png" "OutputSpeculerMap specular.png" \
  "OutputCloudColorMap cloud_color.png" "OutputCloudBumpMap cloud_bump.png" \
  "OutputCloudTransparencyMap cloud_transparency.png" >base.ORB

declare -A times
for round in $(seq "$rounds"); do
  for jobs in 1 2; do
    rm -rf "out$jobs"
    start=$(date +%s.%N)
    "$render" --seeds "1..$planets" base.ORB --out-dir "out$jobs" --jobs "$jobs" --threads 2 \
      --quiet 2>/dev/null
    seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
    times[$jobs]+="$seconds "
    printf 'round %d  --jobs %d  %.2f s\n' "$round" "$jobs" "$seconds"
  done
done
diff -r --exclude=.batch --exclude='index.*' out1 out2
median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
m1=$(echo "${times[1]}" | median)
m2=$(echo "${times[2]}" | median)
awk -v n="$planets" -v s="$size" -v a="$m1" -v b="$m2" 'BEGIN {
  printf "%d planets of %s, 2 threads: --jobs 1 median %.2f s, --jobs 2 median %.2f s, %.2fx\n",
    n, s, a, b, a / b }'
