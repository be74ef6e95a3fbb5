#!/bin/bash
# A long census under Slurm: run with its checkpoint, stopped by SIGTERM some
# minutes before the time limit, requeued, resumed where it stopped, until
# the output is complete. Submit it from the directory that is to hold the
# checkpoint and the result:
#   L1=1 L2=2^42 sbatch examples/slurm/census.sbatch
# Under MPI, set LAUNCH="srun" (or "mpirun") and ask for the ranks with
# --ntasks: rank 0 sleeps between two messages, so on its node one more
# rank than the cores (--overcommit) keeps every core counting.
#SBATCH --job-name=sigma-census
#SBATCH --nodes=1
#SBATCH --time=12:00:00
#SBATCH --signal=B:TERM@300
#SBATCH --requeue
#SBATCH --open-mode=append
#SBATCH --output=sigma-census-%j.log
set -u
L1=${L1:-1}
L2=${L2:-2^40}
CHECKPOINT=${CHECKPOINT:-census.ck}
OUTPUT=${OUTPUT:-census.tsv}
PROGRAM=${PROGRAM:-sigma-census}
LAUNCH=${LAUNCH:-}
OPTIONS=${OPTIONS:-}  # more options of the census, such as --memory=4G
# mpirun kills its ranks one second after it passes SIGTERM on: time enough
# for the checkpoint's fsync only on a quiet disk.
export OMPI_MCA_odls_base_sigkill_timeout=${OMPI_MCA_odls_base_sigkill_timeout:-30}

echo "job ${SLURM_JOB_ID:-?}, start $(date -u +%FT%TZ), restart ${SLURM_RESTART_COUNT:-0}"
stopped=0
# SIGTERM (from --signal=B:TERM, or scancel --signal=TERM --batch) goes to
# this script alone: the census is told, saves its checkpoint and ends.
trap 'stopped=1; kill -TERM "$census" 2> /dev/null' TERM
# shellcheck disable=SC2086 # LAUNCH and OPTIONS are words to split
$LAUNCH "$PROGRAM" $OPTIONS --format=tsv --progress --checkpoint="$CHECKPOINT" "$L1" "$L2" > "$OUTPUT.part" &
census=$!
status=0
# wait returns when the trap runs; wait again for the census to end.
while kill -0 "$census" 2> /dev/null; do
  wait "$census"
  status=$?
done
if [ "$stopped" = 0 ] && [ "$status" = 0 ] && grep -qx 'complete 1' "$CHECKPOINT"; then
  mv "$OUTPUT.part" "$OUTPUT"
  echo "done $(date -u +%FT%TZ): $OUTPUT"
  exit 0
fi
if [ "$stopped" = 1 ] && [ -f "$CHECKPOINT" ]; then
  echo "stopped $(date -u +%FT%TZ) with status $status; requeued"
  scontrol requeue "$SLURM_JOB_ID"
  exit 0
fi
echo "failed $(date -u +%FT%TZ) with status $status"
exit "$status"
