#!/bin/bash
# One tile of a tiled lagscan-matrix run, as a task of a Slurm job array:
# task T computes tile T of K and writes PARTS/part-T. Submitted by
# examples/slurm/submit (see docs/cluster.md), or by hand:
#
#   sbatch --array=1-$((K * (K + 1) / 2)) tile.sbatch K PARTS [options] S FILE...
#
# The task reads only the files of its two blocks (a packed set, SET.npy,
# is read only at its rows). LAGSCAN_MATRIX names the program when it is
# not on PATH.
#SBATCH --job-name=lagscan-tile
#SBATCH --cpus-per-task=1
set -euo pipefail
blocks=$1
parts=$2
shift 2
exec "${LAGSCAN_MATRIX:-lagscan-matrix}" --quiet --threads "${SLURM_CPUS_PER_TASK:-1}" \
  --tile "$SLURM_ARRAY_TASK_ID/$blocks" -o "$parts/part-$SLURM_ARRAY_TASK_ID" "$@"
