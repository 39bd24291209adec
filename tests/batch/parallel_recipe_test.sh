#!/usr/bin/env bash
# The GNU parallel recipe over two slots renders exactly the bytes of one unsharded batch
# run: the same planet folders and thumbnails, the same index but for the seconds.
#   parallel_recipe_test.sh GLOBEFORGE_RENDER SOURCE_DIR
set -euo pipefail
render=$1
recipe=$2/examples/batch/gnu-parallel.sh

if ! command -v parallel >/dev/null 2>&1; then
  echo "SKIP: GNU parallel is not installed (scripts/bootstrap --batch-tests installs it)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf '%s\r\n' "GroundAutoCreate True" "CloudAutoCreate True" "NumberOfCraters 4" \
  "OutputResolutionX 64" "OutputResolutionY 32" "OutputColorMap color.png" \
  "OutputCloudColorMap clouds.jpg" "OutputBumpMap bump.bmp" >base.ORB
{
  printf 'name\tRandomSeed\tCoastLevel\n'
  for i in 1 2 3 4 5 6 7; do printf 'planet %s\t%s\t%s\n' "$i" "$((i * 11))" "$((i * 9))"; done
} >"planets in a table.tsv"

GLOBEFORGE_RENDER=$render "$recipe" "planets in a table.tsv" base.ORB "out sharded" 4 -- --jobs 2
"$render" --batch "planets in a table.tsv" base.ORB --out-dir "out whole" --quiet 2>/dev/null

diff -r --exclude=.batch --exclude='index.*' "out whole" "out sharded"
strip() { sed -E 's/"seconds": [0-9.]+/"seconds": S/' "$1"; }
diff <(strip "out whole/index.json") <(strip "out sharded/index.json")
[ "$(find "out sharded" -name '*.ORB' | wc -l)" -eq 7 ]
echo "the 4 shards over 2 slots equal the unsharded run"
