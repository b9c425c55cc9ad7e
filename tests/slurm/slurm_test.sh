#!/bin/bash
# A real one-node Slurm on this machine runs a tiled lagscan-matrix job
# (examples/slurm/submit: a job array of tiles, then the merge after it),
# and the merged output must be the bytes of one run over all the files.
# local_slurm.sh starts the cluster and stops it whatever happens.
#
#   slurm_test.sh LAGSCAN_MATRIX EXAMPLES_SLURM_DIR
#
# It needs root and Debian's slurm-wlm and munge; without them it is
# skipped (status 77).
set -uo pipefail
matrix=$1
examples=$2
skip() {
  echo "SKIPPED: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "a one-node Slurm needs root"
for tool in munged munge unmunge slurmctld slurmd sbatch sinfo scancel /usr/bin/python3; do
  command -v "$tool" > /dev/null || skip "$tool is missing (scripts/install-deps installs slurm-wlm and munge)"
done

# shellcheck source=local_slurm.sh
source "$(dirname "$0")/local_slurm.sh"
local_slurm_start

# The data: more files than a side of the fast grid, so that blocks cut its
# tiles, in a few kinds of value.
cd "$work/data" || fail "no data folder"
/usr/bin/python3 - << 'PY'
import math, random
random.seed(25)
with open("list", "w") as names:
    for f in range(300):
        name = f"f{f:03d}.xy"
        with open(name, "w") as out:
            for i in range(120):
                y = math.sin(0.05 * i * (1 + f % 7)) + random.gauss(0, 0.3) + (1e4 if f % 11 == 0 else 0)
                out.write(f"{i} {y!r}\n")
        names.write(name + "\n")
PY
"$matrix" pack -o set.npy --files-from list || fail "pack failed"

# Each case: blocks, then the run's options and arguments.
check() {
  local name=$1 blocks=$2
  shift 2
  "$matrix" --quiet --format long "$@" > "one-$name.txt" || fail "$name: the single run failed"
  ids=$(LAGSCAN_MATRIX=$matrix timeout 240 "$examples/submit" -w -k "$blocks" -p "parts-$name" -o "merged-$name.txt" \
    -- "$@") || {
    cat "parts-$name"/*.log 2> /dev/null | tail -n 20
    fail "$name: the Slurm job failed or timed out ($ids)"
  }
  cmp "one-$name.txt" "merged-$name.txt" || fail "$name: the merged output differs from one run's"
  echo "ok: $name, $blocks blocks, jobs $ids, $(wc -l < "one-$name.txt") lines (at $SECONDS s)"
}
check fast-text 3 --fast 11 --files-from list
check exact-top-packed 4 --top 5 7 set.npy

# A tile that fails (a file of block 3 is gone) keeps the merge from
# running: the job ends failed and no output appears.
sed 's/^f250.xy$/gone.xy/' list > list-with-a-gap
if LAGSCAN_MATRIX=$matrix timeout 240 "$examples/submit" -w -k 3 -p parts-gap -o merged-gap.txt -- 5 \
  --files-from list-with-a-gap > /dev/null 2> gap.err; then
  fail "a job with a failed tile succeeded"
fi
grep -q "ended CANCELLED" gap.err || fail "the merge was not cancelled: $(cat gap.err)"
grep -q "Cannot open file gone.xy" parts-gap/tile-3.log || fail "tile 3 does not name the missing file"
[ ! -e merged-gap.txt ] || fail "a failed job left an output"
echo "ok: a failed tile cancels the merge (at $SECONDS s)"
failed=0
echo "PASSED"
