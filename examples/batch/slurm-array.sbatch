#!/bin/bash
# A Slurm job array over one planet table: array task K of N renders the rows whose index
# modulo N is K (globeforge-render --shard K/N) into one folder that every node sees.
#
#   sbatch --array=0-3 examples/batch/slurm-array.sbatch PLANETS.tsv SETTINGS.ORB DIR
#
# The array must start at 0; its size is the number of shards, so --array=0-(N-1). A task
# that fails can simply be run again (sbatch --array=K ...): planets already done are
# skipped. Size --cpus-per-task, --mem and --time from docs/batch.md (memory per planet
# grows with the map size; at 8192 x 4096 one planet needs about 3.4 GB).
#SBATCH --job-name=globeforge
#SBATCH --array=0-3
#SBATCH --cpus-per-task=2
#SBATCH --mem=1G
#SBATCH --time=01:00:00
#SBATCH --output=globeforge-%A_%a.log
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: sbatch --array=0-(N-1) $0 PLANETS.tsv SETTINGS.ORB DIR" >&2
  exit 2
fi
if [ "${SLURM_ARRAY_TASK_MIN:-0}" != 0 ]; then
  echo "the array must start at 0 (--array=0-(N-1))" >&2
  exit 2
fi
shards=$((SLURM_ARRAY_TASK_MAX + 1))
render=${GLOBEFORGE_RENDER:-globeforge-render}

exec "$render" --batch "$1" "$2" --out-dir "$3" \
  --shard "$SLURM_ARRAY_TASK_ID/$shards" --threads "${SLURM_CPUS_PER_TASK:-1}" --quiet
