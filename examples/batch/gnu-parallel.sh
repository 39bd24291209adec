#!/usr/bin/env bash
# Renders a planet table with GNU parallel: the table is cut into SHARDS shards and each
# shard is one globeforge-render --batch ... --shard K/SHARDS, run in the slots parallel
# gives it, on this machine or on other machines over ssh.
#
#   gnu-parallel.sh PLANETS.tsv SETTINGS.ORB DIR [SHARDS] [-- PARALLEL-OPTIONS...]
#
#   SHARDS             how many pieces (default: the number of cores here)
#   PARALLEL-OPTIONS   passed to parallel, e.g. --jobs 2, or --sshlogin 8/alpha,8/beta
#                      (each host needs globeforge-render and the three paths under the
#                      same names: use absolute paths on a shared file system)
#   GLOBEFORGE_RENDER  the program (default: globeforge-render on PATH)
#   GLOBEFORGE_THREADS threads of each shard (default 1: one shard per slot)
#
# Exit status: 0 when every shard finished every planet; otherwise the number of shards
# that did not (from parallel). Run it again to render what is missing.
set -euo pipefail

if [ $# -lt 3 ]; then
  sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
table=$1 settings=$2 out=$3
shift 3
shards=$(nproc 2>/dev/null || echo 2)
if [ $# -gt 0 ] && [ "$1" != "--" ]; then
  shards=$1
  shift
fi
if [ "${1:-}" = "--" ]; then shift; fi

render=${GLOBEFORGE_RENDER:-globeforge-render}
threads=${GLOBEFORGE_THREADS:-1}

# -q quotes the command's words for the shell parallel runs it in (locally or over ssh),
# so paths with blanks stay whole; --halt never lets every shard finish what it can.
exec parallel --will-cite -q --halt never --line-buffer "$@" \
  "$render" --batch "$table" "$settings" --out-dir "$out" \
  --shard "{}/$shards" --threads "$threads" --quiet \
  ::: $(seq 0 $((shards - 1)))
