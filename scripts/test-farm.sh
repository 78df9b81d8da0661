#!/usr/bin/env bash
# Farm test: neb2vdb run as a Slurm array job (scripts/neb2vdb-slurm.sh) on a real
# single-node cluster started here from Debian's slurmctld, slurmd and munge packages.
#
# Everything the cluster needs (munge key and socket, slurm.conf, state, spool, pid and
# log files) lives in a scratch folder, on private ports, so nothing in /etc/slurm or
# /etc/munge is read and no system daemon is touched. The daemons run in the foreground as
# children of this script, each in a session of its own, and the EXIT trap cancels every
# job and stops them whatever happens. Runs as root (slurmd starts job processes as their
# owner).
#
#   NEB_BUILD_DIR   build folder holding tools/neb2vdb/neb2vdb and tools/nebsample/nebsample
#                   (default build/release)
#   FARM_PORT       slurmctld's port; slurmd takes the next one (default 16817)
#   FARM_KEEP=1     keep the scratch folder (its path is printed)
#   FARM_TIMEOUT    seconds the test may take before it is stopped and cleaned up (default
#                   180; a normal run takes about a minute, 95 s on a busy 2-core machine)
#   FARM_BIG_RES    grid size of the two frames a task is cancelled in (default 192)
#   NEB2VDB_BIN     the converter (default $NEB_BUILD_DIR/tools/neb2vdb/neb2vdb)
set -euo pipefail
# The whole run is bounded: past the limit the script gets SIGTERM and cleans up as on
# any failure.
if [ -z "${FARM_TIMED:-}" ]; then
  FARM_TIMED=1 exec timeout --kill-after=45 "${FARM_TIMEOUT:-180}" bash "$0" "$@"
fi
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=$(cd "${NEB_BUILD_DIR:-build/release}" && pwd)
NEB2VDB_BIN=${NEB2VDB_BIN:-$BUILD/tools/neb2vdb/neb2vdb}
NEBSAMPLE=$BUILD/tools/nebsample/nebsample
CTLD_PORT=${FARM_PORT:-16817}
SLURMD_PORT=$((CTLD_PORT + 1))
T0=$SECONDS

say() { echo "test-farm: $*"; }
fail() { echo "test-farm: FAIL: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "must run as root: slurmd runs as root to start job processes"
for tool in munged slurmctld slurmd sbatch squeue scancel scontrol sinfo vdb_print; do
  command -v "$tool" >/dev/null || fail "$tool is missing (run scripts/install-deps.sh)"
done
for bin in "$NEB2VDB_BIN" "$NEBSAMPLE"; do
  [ -x "$bin" ] || fail "$bin is missing: build it first (or set NEB_BUILD_DIR)"
done
for port in "$CTLD_PORT" "$SLURMD_PORT"; do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    fail "something listens on port $port already (a cluster of an earlier run? see ss -ltnp); set FARM_PORT to another"
  fi
done

S=$(mktemp -d /tmp/neb-farm.XXXXXX)
chmod 711 "$S"  # munged wants its socket folder searchable
export SLURM_CONF=$S/slurm.conf
daemon_pids=()

dump_logs() {  # a daemon's own log, or its standard error when it died before opening that
  local f d
  for d in munged slurmctld slurmd; do
    f=$S/log/$d.log
    [ -s "$f" ] || f=$S/log/$d.stderr
    [ -s "$f" ] || continue
    echo "----- $f (last 30 lines)" >&2
    tail -n 30 "$f" >&2
  done
  for f in "$S"/jobs/*.log; do
    [ -s "$f" ] || continue
    echo "----- $f (last 30 lines)" >&2
    tail -n 30 "$f" >&2
  done
}

# Jobs first, while slurmctld still runs (a job's processes belong to slurmstepd, which
# outlives slurmd), then the daemons in the reverse order of their start, each given 5 s
# before SIGKILL. Whatever is left of a job after that (slurmstepd, neb2vdb) carries our
# SLURM_CONF and a SLURM_JOB_ID in its environment.
cleanup() {
  local status=$? pid i
  set +e
  trap - EXIT INT TERM
  if [ ${#daemon_pids[@]} -ge 2 ] && kill -0 "${daemon_pids[1]}" 2>/dev/null; then
    timeout 10 scancel --quiet --user=root >/dev/null 2>&1
    for i in $(seq 50); do
      [ -z "$(timeout 5 squeue -h -o %i 2>/dev/null)" ] && break
      sleep 0.2
    done
  fi
  for ((i = ${#daemon_pids[@]} - 1; i >= 0; i--)); do
    pid=${daemon_pids[i]}
    kill "$pid" 2>/dev/null || continue
    for _ in $(seq 25); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  for pid in $(pgrep -d ' ' .); do
    [ "$pid" = $$ ] && continue
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "SLURM_CONF=$SLURM_CONF" || continue
    if [ "$(ps -o comm= -p "$pid")" = slurmstepd ] ||
       { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -q "^SLURM_JOB_ID="; then
      echo "test-farm: killing leftover $(ps -o pid=,args= -p "$pid")" >&2
      kill -9 "$pid" 2>/dev/null
    fi
  done
  [ "$status" -ne 0 ] && dump_logs
  if [ "${FARM_KEEP:-0}" = 1 ]; then say "scratch folder kept: $S"; else rm -rf "$S"; fi
  say "$([ "$status" -eq 0 ] && echo passed || echo "failed (exit $status)") in $((SECONDS - T0)) s"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'echo "test-farm: stopped by SIGTERM (over ${FARM_TIMEOUT:-180} s?)" >&2; exit 143' TERM

# ---------------------------------------------------------------- the cluster
mkdir -p "$S"/{state,spool,log,run,jobs}
: >"$S/plugstack.conf"  # empty, so that /etc/slurm/plugstack.conf is not read
dd if=/dev/urandom of="$S/munge.key" bs=1024 count=1 status=none
chmod 400 "$S/munge.key"

# The node as slurmd sees this machine, renamed to localhost, so that its CPUs and memory
# match and slurmctld accepts its registration.
node=$(slurmd -C | sed -n 's/^NodeName=[^ ]*/NodeName=localhost/p' | sed 's/ UpTime=.*//')
[ -n "$node" ] || fail "slurmd -C printed no node description"

cat >"$SLURM_CONF" <<EOF
ClusterName=nebfarm
SlurmctldHost=localhost
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$CTLD_PORT
SlurmdPort=$SLURMD_PORT
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$S/munge.socket
StateSaveLocation=$S/state
SlurmdSpoolDir=$S/spool
SlurmctldPidFile=$S/run/slurmctld.pid
SlurmdPidFile=$S/run/slurmd.pid
SlurmctldLogFile=$S/log/slurmctld.log
SlurmdLogFile=$S/log/slurmd.log
PlugStackConfig=$S/plugstack.conf
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SchedulerType=sched/builtin
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
JobCompType=jobcomp/none
MpiDefault=none
ReturnToService=2
KillWait=5
MinJobAge=600
SlurmctldTimeout=30
SlurmdTimeout=30
$node
PartitionName=farm Nodes=localhost Default=YES MaxTime=INFINITE State=UP
EOF

# Each daemon in a session of its own, so that a signal to this script's process group
# (Ctrl-C, timeout) reaches only this script, whose EXIT trap stops them in order.
setsid munged --foreground --force --socket="$S/munge.socket" --key-file="$S/munge.key" \
  --pid-file="$S/run/munged.pid" --log-file="$S/log/munged.log" --seed-file="$S/munge.seed" \
  >"$S/log/munged.stderr" 2>&1 &
daemon_pids+=($!)
for _ in $(seq 50); do [ -S "$S/munge.socket" ] && break; sleep 0.1; done
[ -S "$S/munge.socket" ] || fail "munged did not start"

setsid slurmctld -D -i >"$S/log/slurmctld.stderr" 2>&1 &
daemon_pids+=($!)
setsid slurmd -D -N localhost >"$S/log/slurmd.stderr" 2>&1 &
daemon_pids+=($!)

state=""
end=$((SECONDS + 30))
while [ "$SECONDS" -lt "$end" ]; do
  for i in 0 1 2; do
    kill -0 "${daemon_pids[i]}" 2>/dev/null || fail "$(echo munged slurmctld slurmd | cut -d' ' -f$((i + 1))) exited during start-up"
  done
  state=$(sinfo -h -n localhost -o %T 2>/dev/null || true)
  case $state in idle|inval*) break ;; esac  # inval: slurmctld refused the node's registration
  sleep 0.2
done
[ "$state" = idle ] || fail "the node did not come up within 30 s (its state: '${state}')"
say "single-node cluster up in $((SECONDS - T0)) s: $node"

# ---------------------------------------------------------------- the test
cd "$S/jobs"
mkdir -p src ref out kill
"$NEBSAMPLE" -res 32 -frames 12 -out src/plume_####.neb >/dev/null

submit() {  # SRC_FOLDER DST_FOLDER [neb2vdb-slurm.sh options...]; sets JOB
  local src=$1 dst=$2 out
  shift 2
  out=$(NEB2VDB=$NEB2VDB_BIN "$ROOT/scripts/neb2vdb-slurm.sh" "$src/plume_####.neb" "$dst/plume_####.vdb" \
          --frames 0-11 --chunk 3 "$@") || fail "neb2vdb-slurm.sh failed: $out"
  if [ -z "${JOB:-}" ]; then sed 's/^/  | /' <<<"$out"; else sed -n 's/^/  | /p;q' <<<"$out"; fi
  JOB=$(sed -n 's/^Submitted array job \([0-9][0-9]*\):.*/\1/p' <<<"$out")
  [ -n "$JOB" ] || fail "neb2vdb-slurm.sh printed no job id"
}

await_job() {  # JOB SECONDS
  local end=$((SECONDS + $2))
  while [ -n "$(squeue -h -j "$1" -o %i)" ]; do
    [ "$SECONDS" -lt "$end" ] || fail "job $1 still not done after $2 s: $(squeue -j "$1")"
    sleep 0.2
  done
}

expect_tasks() {  # JOB "0 STATE" "1 STATE" ...: the end state of every array task
  local got want
  got=$(scontrol -o show job "$1" | sed -n 's/.* ArrayTaskId=\([0-9]*\) .* JobState=\([A-Z_]*\) .*/\1 \2/p' | sort -n)
  want=$(printf '%s\n' "${@:2}")
  [ "$got" = "$want" ] || fail "job $1 ended with task states
$got
instead of
$want"
}

expect_files() {  # FOLDER FRAME...: the folder holds exactly these frames' outputs
  local got want
  got=$(ls -A "$1")
  want=$(for f in "${@:2}"; do printf 'plume_%04d.vdb\n' "$f"; done)
  [ "$got" = "$want" ] || fail "$1 holds
$got
instead of
$want"
}

grids() {  # FILE: vdb_print's listing of the file's grids (it exits 0 even when it fails)
  local text
  text=$(vdb_print -l "$1" 2>&1)
  case $text in *ERROR*|"") fail "vdb_print cannot read $1: $text" ;; esac
  printf '%s\n' "$text"
}

# 1. 12 frames as 4 tasks of 3 frames: every output is there and reads back as the same
#    grids as a conversion of the same frames done here, outside the farm.
say "12 frames as a 4-task array job"
submit src out
await_job "$JOB" 60
expect_tasks "$JOB" "0 COMPLETED" "1 COMPLETED" "2 COMPLETED" "3 COMPLETED"
expect_files out $(seq 0 11)
"$NEB2VDB_BIN" src/plume_####.neb ref/plume_####.vdb --frames 0-11 --quiet || fail "neb2vdb failed outside the farm"
for f in $(seq 0 11); do
  name=$(printf 'plume_%04d.vdb' "$f")
  (cd out && grids "$name") >out.grids
  (cd ref && grids "$name") >ref.grids
  cmp -s out.grids ref.grids || fail "out/$name differs from a local conversion:
$(diff out.grids ref.grids)"
done
say "all 12 outputs read back as expected"

# 2. A task cancelled mid-way. Frames 4 and 5 are big, and task 1 (frames 3-5, one at a
#    time) is cancelled while its neb2vdb holds its output for frame 4 open: a file in the
#    output folder, named or not (an O_TMPFILE shows in /proc as "folder/#inode (deleted)").
#    The folder then holds the finished frames and nothing else.
say "a task cancelled while writing a frame, then submitted again"
mkdir src2
cp src/plume_*.neb src2/
"$NEBSAMPLE" -res "${FARM_BIG_RES:-192}" -start 4 -frames 1 -out src2/plume_####.neb >/dev/null
"$NEBSAMPLE" -res "${FARM_BIG_RES:-192}" -start 5 -frames 1 -out src2/plume_####.neb >/dev/null
submit src2 kill --jobs 1
end=$((SECONDS + 60))
writing=""
while [ -z "$writing" ]; do
  [ "$SECONDS" -lt "$end" ] || fail "task 1 was not seen writing frame 4 within 60 s"
  [ ! -e kill/plume_0005.vdb ] || fail "task 1 finished before it was seen writing; make frames 4-5 bigger (FARM_BIG_RES)"
  if [ -e kill/plume_0003.vdb ]; then
    for pid in $(pgrep -f -- "kill/plume_####\.vdb --frames 3-5 " || true); do
      writing=$(find "/proc/$pid/fd" -lname "$PWD/kill/*" -printf '%l\n' 2>/dev/null | head -n 1)
      [ -n "$writing" ] && break
    done
  fi
  [ -n "$writing" ] || sleep 0.02
done
scancel "${JOB}_1"
say "cancelled task 1 while it was writing ${writing#"$PWD/"}"
await_job "$JOB" 60
expect_tasks "$JOB" "0 COMPLETED" "1 CANCELLED" "2 COMPLETED" "3 COMPLETED"
[ ! -e kill/plume_0005.vdb ] || fail "task 1 converted frame 5 before it was cancelled; make frames 4-5 bigger"
missing=(5)
[ -e kill/plume_0004.vdb ] || missing=(4 5)
kept=($(seq 0 11 | grep -vx "$(printf '%s\n' "${missing[@]}")"))
expect_files kill "${kept[@]}"   # also: no temporary file left behind
snapshot() {  # [FILE...] (default: all) in kill/: name, inode, mtime, size
  (cd kill && if [ $# -eq 0 ]; then set -- *; fi && stat -c '%n %i %.9Y %s' "$@")
}
before=$(snapshot $(printf 'plume_%04d.vdb ' "${kept[@]}"))

# The cancelled task alone, then the whole job once more: each converts only what is
# missing, so the first writes frames ${missing[*]} and the second nothing.
submit src2 kill --jobs 1 --tasks 1
await_job "$JOB" 90
expect_tasks "$JOB" "1 COMPLETED"
expect_files kill $(seq 0 11)
after=$(snapshot $(printf 'plume_%04d.vdb ' "${kept[@]}"))
[ "$before" = "$after" ] || fail "re-running task 1 touched frames it had no need to redo:
$(diff <(echo "$before") <(echo "$after"))"
before=$(snapshot)
submit src2 kill --jobs 1
await_job "$JOB" 60
expect_tasks "$JOB" "0 COMPLETED" "1 COMPLETED" "2 COMPLETED" "3 COMPLETED"
[ "$before" = "$(snapshot)" ] || fail "re-running the finished job rewrote frames"
for f in $(seq 0 11); do grids "kill/$(printf 'plume_%04d.vdb' "$f")" >/dev/null; done
say "task 1 re-run alone converted only frames ${missing[*]}; the whole job re-run converted none"

# 3. A re-simulation: frames 6-8 of the cache are written again (another grid size), and
#    the whole job is submitted once more. Only those frames are converted again, their
#    task says so, and they read back as a local conversion of the new cache does.
say "frames 6-8 re-simulated, the whole job submitted again"
"$NEBSAMPLE" -res 24 -start 6 -frames 3 -out src2/plume_####.neb >/dev/null
before=$(snapshot)
submit src2 kill --jobs 1
await_job "$JOB" 60
expect_tasks "$JOB" "0 COMPLETED" "1 COMPLETED" "2 COMPLETED" "3 COMPLETED"
changed=$({ diff <(echo "$before") <(snapshot) || true; } | sed -n 's/^> \(plume_[0-9]*\.vdb\) .*/\1/p' | tr '\n' ' ')
[ "$changed" = "plume_0006.vdb plume_0007.vdb plume_0008.vdb " ] ||
  fail "the re-submitted job rewrote '${changed}' instead of frames 6-8"
grep -q '3 redone as out of date' "neb2vdb-${JOB}_2.log" ||
  fail "task 2's summary does not count the frames it redid: $(tail -n 1 "neb2vdb-${JOB}_2.log")"
"$NEB2VDB_BIN" src2/plume_####.neb ref/plume_####.vdb --frames 6-8 --quiet || fail "neb2vdb failed outside the farm"
for f in 6 7 8; do
  name=$(printf 'plume_%04d.vdb' "$f")
  [ "$(cd kill && grids "$name")" = "$(cd ref && grids "$name")" ] || fail "kill/$name is not the re-simulated frame"
done
say "the re-simulated frames 6-8, and only they, were converted again"
