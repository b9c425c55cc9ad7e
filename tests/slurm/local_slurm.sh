# A one-node Slurm on this machine, for the Slurm test and the cluster
# benchmark: sourced by a bash script running as root, which then calls
#
#   local_slurm_start      munged, slurmctld and slurmd in a fresh folder
#                          ($work), SLURM_CONF exported, the node idle;
#                          installs an EXIT trap that stops them all
#   fail MESSAGE           prints FAILED: MESSAGE and exits 1
#
# Everything runs with its own munge key and socket and free ports, so
# neither a system's Slurm nor a run killed before (its daemons, pid files,
# ports) is in the way: the daemons of a killed run are found by the pids it
# recorded and stopped first. Whatever happens, the daemons started here are
# stopped at exit. Every wait is bounded. The caller sets failed=0 once it
# has passed (the daemons' logs are printed otherwise).

fail() {
  echo "FAILED: $*"
  exit 1
}

local_slurm_start() {
  # The pids of the last run's daemons, so that a run killed before its
  # clean-up is cleaned up now.
  registry=/tmp/lagscan-slurm-test.pids
  stop_pid() {  # pid: ends it (if it is one of our daemons), waiting up to 10 s
    local pid=$1 name
    name=$(cat "/proc/$pid/comm" 2> /dev/null) || return 0
    case $name in munged | slurmctld | slurmd | slurmstepd) ;; *) return 0 ;; esac
    kill "$pid" 2> /dev/null
    for _ in $(seq 50); do
      [ -e "/proc/$pid" ] || return 0
      sleep 0.2
    done
    kill -9 "$pid" 2> /dev/null
  }
  if [ -f "$registry" ]; then
    while read -r kind value; do
      case $kind in
        pid) stop_pid "$value" ;;
        dir) [[ $value == /tmp/lagscan-slurm.* ]] && rm -rf "$value" ;;
      esac
    done < "$registry"
    rm -f "$registry"
  fi

  work=$(mktemp -d /tmp/lagscan-slurm.XXXXXX)
  echo "dir $work" >> "$registry"
  record() { echo "pid $1" >> "$registry"; }
  local_slurm_cleanup() {
    set +e
    if [ -n "${SLURM_CONF:-}" ] && [ -f "$work/ctld.pid" ]; then timeout 10 scancel --full --quiet --user=root; fi
    # The job steps first (so that none outlives its daemon), then the
    # daemons, munged last.
    for pid in $(pgrep -x slurmstepd); do
      grep -qz "^SLURM_CONF=$work/" "/proc/$pid/environ" 2> /dev/null && stop_pid "$pid"
    done
    for file in ctld.pid d.pid munged.pid; do
      [ -f "$work/$file" ] && stop_pid "$(cat "$work/$file")"
    done
    if [ "${failed:-1}" -ne 0 ]; then
      for log in "$work"/log/*.log; do
        [ -f "$log" ] && { echo "--- $log"; tail -n 20 "$log"; }
      done
    fi
    rm -rf "$work"
    rm -f "$registry"
  }
  trap local_slurm_cleanup EXIT
  trap 'exit 1' INT TERM
  mkdir -p "$work/state" "$work/spool" "$work/log" "$work/data"

  # munge: a key of our own and a socket in our folder.
  dd if=/dev/urandom of="$work/munge.key" bs=1024 count=1 status=none
  chmod 400 "$work/munge.key"
  socket=$work/munge.socket
  timeout 20 munged --force --key-file="$work/munge.key" --socket="$socket" --pid-file="$work/munged.pid" \
    --seed-file="$work/munged.seed" --log-file="$work/log/munged.log" || fail "munged did not start"
  record "$(cat "$work/munged.pid")"
  timeout 10 munge -n --socket="$socket" | timeout 10 unmunge --socket="$socket" > /dev/null ||
    fail "munge cannot encode and decode a credential"

  free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
  }
  node=$(hostname -s)
  cat > "$work/slurm.conf" << CONF
ClusterName=lagscantest
SlurmctldHost=$node
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$socket
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/ctld.pid
SlurmdPidFile=$work/d.pid
SlurmctldLogFile=$work/log/ctld.log
SlurmdLogFile=$work/log/d.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
# Jobs start as soon as CPUs free up (by default batch jobs wait up to 3 s).
SchedulerParameters=batch_sched_delay=0
ReturnToService=2
NodeName=$node CPUs=2 RealMemory=2000 State=UNKNOWN
PartitionName=debug Nodes=ALL Default=YES MaxTime=10 State=UP
CONF
  export SLURM_CONF=$work/slurm.conf
  timeout 30 slurmctld -f "$SLURM_CONF" || fail "slurmctld did not start"
  for _ in $(seq 50); do [ -s "$work/ctld.pid" ] && break; sleep 0.2; done
  record "$(cat "$work/ctld.pid")"
  timeout 30 slurmd -f "$SLURM_CONF" || fail "slurmd did not start"
  for _ in $(seq 50); do [ -s "$work/d.pid" ] && break; sleep 0.2; done
  record "$(cat "$work/d.pid")"
  idle=""
  for _ in $(seq 60); do
    idle=$(timeout 5 sinfo -h -o %T 2> /dev/null)
    [ "$idle" = idle ] && break
    sleep 1
  done
  [ "$idle" = idle ] || fail "the node is not idle after 60 s (sinfo: $idle)"
  echo "the node is idle after $SECONDS s"
}
