#!/bin/bash
# The merge after a tiled run's job array (sbatch --dependency=afterok:ARRAY):
# joins PARTS/part-* into OUTPUT, the bytes one lagscan-matrix run over all
# the files writes. It refuses a missing, doubled or foreign part, and
# writes OUTPUT whole or not at all.
#
#   sbatch --dependency=afterok:ARRAY merge.sbatch PARTS OUTPUT [--digits N]
#SBATCH --job-name=lagscan-merge
#SBATCH --cpus-per-task=1
set -euo pipefail
parts=$1
output=$2
shift 2
# The list goes through standard input: a run of many blocks has more parts
# than a command line holds.
find "$parts" -maxdepth 1 -name 'part-*' ! -name '*.incomplete' -print |
  "${LAGSCAN_MATRIX:-lagscan-matrix}" merge --files-from - -o "$output" "$@"
