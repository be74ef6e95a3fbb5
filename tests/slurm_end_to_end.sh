#!/usr/bin/env bash
# The example job script under a real Slurm, a controller and a node on this
# machine: a census longer than the job's time limit gets SIGTERM before the
# limit, saves its checkpoint, is requeued, resumes, and ends with the
# output of an uninterrupted run, its log saying what was resumed.
# Needs root, slurm-wlm and munge (tools/setup.sh --checks installs them).
# Usage: slurm_end_to_end.sh PROGRAM
set -u
program=$(realpath "$1")
script=$(realpath "$(dirname "$0")/../examples/slurm/census.sbatch")
work=$(mktemp -d)
chmod 755 "$work"
source "$(dirname "$0")/expect.sh"
export SLURM_CONF=$work/slurm.conf
node=$(hostname -s)
cleanup() {
  [ -f "$work/slurmd.pid" ] && kill "$(cat "$work/slurmd.pid")" 2> /dev/null
  [ -f "$work/slurmctld.pid" ] && kill "$(cat "$work/slurmctld.pid")" 2> /dev/null
  sleep 1
  rm -rf "$work"
}
trap cleanup EXIT

# The interval: long enough at one thread (about two minutes) to be cut by
# a one-minute limit more than once, short enough for CI ([1, 2 x 10^10]
# came to take 47 s, and ended before its signal). The uninterrupted output first.
L1=1
L2=5e10
"$program" --format=tsv "$L1" "$L2" > "$work/expected.tsv"

# munge: Slurm's authentication. Its key comes with the package.
mkdir -p /run/munge /var/log/munge /var/lib/munge
chown -R munge:munge /run/munge /var/log/munge /var/lib/munge
pgrep -x munged > /dev/null || runuser -u munge -- /usr/sbin/munged
mkdir -p "$work/state" "$work/spool" "$work/job"
cat > "$SLURM_CONF" << EOF
ClusterName=sigmatest
SlurmctldHost=$node
SlurmUser=root
SlurmdUser=root
SlurmctldPort=16817
SlurmdPort=16818
AuthType=auth/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SchedulerType=sched/backfill
MpiDefault=none
SwitchType=switch/none
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
ReturnToService=2
JobRequeue=1
KillWait=30
OverTimeLimit=0
InactiveLimit=0
MinJobAge=600
NodeName=$node CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
slurmctld -f "$SLURM_CONF"
slurmd -f "$SLURM_CONF"
for _ in $(seq 60); do
  sinfo -h -o %t 2> /dev/null | grep -q idle && break
  sleep 1
done
expect "Slurm: the node is up" test "$(sinfo -h -o %t)" = idle

# One thread, so that the run outlasts the limit; SIGTERM 60 s before it.
# Slurm reckons a requeued job's limit from its begin time, and starts it at
# its next scheduling pass, up to 30 s later: each run still counts for 30 s
# or more before its signal.
job=$(cd "$work/job" && L1=$L1 L2=$L2 OPTIONS=--threads=1 PROGRAM=$program \
  sbatch --parsable --time=2 --signal=B:TERM@60 --output=job.log "$script")
# Slurm holds a requeued job two minutes before it may start again; the
# test lets it go sooner (the job itself is not touched), but not within
# the second its old credential was revoked in: slurmd refuses a
# credential no newer than the revocation ("Job credential revoked").
released=0
for _ in $(seq 900); do
  state=$(squeue -h -j "$job" -o '%T %r' 2> /dev/null)
  case $state in
    "PENDING BeginTime")
      if [ "$released" = 0 ]; then
        scontrol update JobId="$job" StartTime=now+5 2> /dev/null && released=1
      fi ;;
    "") break ;;
  esac
  sleep 1
done
log=$work/job/job.log
expect "Slurm: the job ended (sacct-free: it left the queue)" test -z "$(squeue -h -j "$job" 2> /dev/null)"
expect "Slurm: the time limit's SIGTERM stopped the census, saved" \
  grep -q '^sigma-census: stopped by SIGTERM; checkpoint census.ck holds every finished range$' "$log"
expect "Slurm: the job requeued itself" grep -q '^stopped .* with status 143; requeued$' "$log"
expect "Slurm: the log says what was resumed" \
  grep -Eq '^sigma-census: checkpoint census.ck: resumed, [0-9.]+ % of \[1, 50000000000\] already counted' "$log"
expect "Slurm: the job ran more than once" test "$(grep -c '^job .*, start' "$log")" -ge 2
expect "Slurm: the job's last run completed" grep -q '^done .*: census.tsv$' "$log"
expect "Slurm: the output of an uninterrupted run, byte for byte" cmp -s "$work/job/census.tsv" "$work/expected.tsv"
expect "Slurm: the checkpoint is complete" grep -qx 'complete 1' "$work/job/census.ck"
if [ "$failed" != 0 ]; then
  echo "--- job log"
  cat "$log"
  echo "--- slurmctld log (tail)"
  tail -n 20 "$work/slurmctld.log"
fi
finish
