#!/usr/bin/env bash
# Converts a cache sequence on a Slurm farm: submits ONE array job whose task I converts
# the I-th run of K consecutive frames with neb2vdb.
#
#   neb2vdb-slurm.sh SRC_PATTERN DST_PATTERN --frames A-B[xSTEP] [--chunk K]
#                    [--cpus-per-task N] [--tasks LIST] [neb2vdb options]
#
# Every task passes --skip-existing, and neb2vdb renames a frame into place only once it
# is complete, so a failed or cancelled task can be re-run alone (--tasks I), and
# re-submitting the whole job converts only the frames still missing or out of date: an
# output records its source's path, size and modification time and the options, and a
# frame re-simulated since (or converted with other options) is converted again. Tasks
# share nothing but the output folder.
#
# neb2vdb is taken from $NEB2VDB, else from PATH, and must be reachable under the same
# path on the compute nodes, as must the two patterns (relative ones are relative to the
# folder this is run from, which becomes the tasks' working folder). sbatch options go
# through sbatch's own environment variables (SBATCH_PARTITION, SBATCH_TIMELIMIT,
# SBATCH_ACCOUNT ...), which override the job name and log name set here.
set -euo pipefail

prog=neb2vdb-slurm.sh
usage() {
  cat <<EOF
Usage: $prog SRC_PATTERN DST_PATTERN --frames A-B[xSTEP] [--chunk K] [--cpus-per-task N]
       [--tasks LIST] [neb2vdb options]
Submits one Slurm array job converting frames A..B with neb2vdb, K frames per task
(default 10). '#' runs in the patterns stand for the frame number.
  --frames A-B[xSTEP]  inclusive frame range, every STEP-th frame (default 1)
  --chunk K            frames per array task
  --cpus-per-task N    CPUs Slurm gives each task, and frames it converts at once
                       (neb2vdb --jobs; default 1)
  --tasks LIST         submit only these task indices (sbatch --array syntax, e.g. 3 or
                       1,5-7), to re-run failed tasks of an earlier submission alone
  --help               this text
  --version            the script's version
Other options are passed to every neb2vdb run, and --skip-existing is always added:
a submission converts only the frames whose output is missing or out of date (its
source re-simulated since, or other options).
neb2vdb is \$NEB2VDB, or else found on PATH. Other sbatch settings go through sbatch's
environment variables (SBATCH_PARTITION, SBATCH_TIMELIMIT, SBATCH_MEM_PER_NODE ...).
Exit status: 0 submitted, 1 not submitted (no neb2vdb or sbatch, or sbatch refused the
job), 2 usage error.
EOF
}
die() { echo "$prog: $*" >&2; echo "Try '$prog --help'." >&2; exit 2; }

case ${1:-} in
  --help|-h) usage; exit 0 ;;
  --version|-V) echo "$prog 1.0.0"; exit 0 ;;
esac
[ $# -ge 2 ] || die "needs a source and a destination pattern"
src=$1 dst=$2
shift 2
frames="" chunk=10 tasks="" cpus=1
passthrough=()
while [ $# -gt 0 ]; do
  case $1 in
    --help|-h) usage; exit 0 ;;
    --frames|-f|--chunk|--tasks|--cpus-per-task)
      [ $# -ge 2 ] || die "$1 needs a value"
      case $1 in
        --frames|-f) frames=$2 ;; --chunk) chunk=$2 ;; --tasks) tasks=$2 ;; --cpus-per-task) cpus=$2 ;;
      esac
      shift 2 ;;
    --frames=*) frames=${1#*=}; shift ;;
    --chunk=*) chunk=${1#*=}; shift ;;
    --tasks=*) tasks=${1#*=}; shift ;;
    --cpus-per-task=*) cpus=${1#*=}; shift ;;
    *) passthrough+=("$1"); shift ;;  # neb2vdb's options and their values
  esac
done

[ -n "$src" ] && [ -n "$dst" ] || die "needs a source and a destination pattern"
case $src in *'#'*) ;; *) die "the source pattern needs a '#' run for the frame number" ;; esac
case $dst in *'#'*) ;; *) die "the destination pattern needs a '#' run for the frame number" ;; esac
[[ $frames =~ ^(-?[0-9]+)-(-?[0-9]+)(x([0-9]+))?$ ]] || die "--frames needs A-B or A-BxSTEP, got '${frames}'"
first=$((10#${BASH_REMATCH[1]#-})); [ "${BASH_REMATCH[1]:0:1}" = - ] && first=$((-first))
last=$((10#${BASH_REMATCH[2]#-})); [ "${BASH_REMATCH[2]:0:1}" = - ] && last=$((-last))
step=$((10#${BASH_REMATCH[4]:-1}))
[ "$step" -ge 1 ] || die "the frame step must be at least 1"
[ "$last" -ge "$first" ] || die "--frames $frames: the last frame is before the first"
[[ $chunk =~ ^[0-9]+$ ]] && [ "$((10#$chunk))" -ge 1 ] || die "--chunk needs a whole number of frames >= 1"
chunk=$((10#$chunk))
[[ $cpus =~ ^[0-9]+$ ]] && [ "$((10#$cpus))" -ge 1 ] || die "--cpus-per-task needs a whole number >= 1"
cpus=$((10#$cpus))
[[ -z $tasks || $tasks =~ ^[0-9,-]+$ ]] || die "--tasks takes task indices such as 3 or 1,5-7"

count=$(( (last - first) / step + 1 ))
last=$(( first + (count - 1) * step ))  # the last frame the step lands on
ntasks=$(( (count + chunk - 1) / chunk ))
for t in ${tasks//[,-]/ }; do
  [ "$((10#$t))" -lt "$ntasks" ] || die "--tasks $tasks: the tasks are 0 to $((ntasks - 1))"
done

neb2vdb=${NEB2VDB:-$(command -v neb2vdb || true)}
[ -n "$neb2vdb" ] || { echo "$prog: neb2vdb is not on PATH; set NEB2VDB to the program" >&2; exit 1; }
[ -x "$neb2vdb" ] || { echo "$prog: $neb2vdb is not an executable program" >&2; exit 1; }
neb2vdb=$(cd "$(dirname "$neb2vdb")" && pwd)/$(basename "$neb2vdb")
command -v sbatch >/dev/null || { echo "$prog: sbatch not found: this needs a Slurm client" >&2; exit 1; }

add_jobs=1
for o in "${passthrough[@]}"; do
  case $o in --jobs|--jobs=*|-j|-j[0-9]*) add_jobs=0 ;; esac
done

# The task script. Everything known now is baked in, quoted; only the task index comes
# from Slurm. exec, so that a cancelled task's signal reaches neb2vdb itself, which then
# removes the frame it was writing.
script=$(
  printf '#!/bin/bash\n'
  printf '#SBATCH --job-name=neb2vdb\n'
  printf '#SBATCH --output=neb2vdb-%%A_%%a.log\n'
  printf 'set -eu\n'
  printf 'first=$(( %d + SLURM_ARRAY_TASK_ID * %d ))\n' "$first" "$((chunk * step))"
  printf 'last=$(( first + %d )); if [ "$last" -gt %d ]; then last=%d; fi\n' \
    "$(((chunk - 1) * step))" "$last" "$last"
  printf 'echo "task $SLURM_ARRAY_TASK_ID: frames $first-${last}%s on $(hostname)"\n' \
    "$([ "$step" -gt 1 ] && echo "x$step")"
  printf 'exec %q %q %q --frames "$first-${last}%s" --skip-existing' \
    "$neb2vdb" "$src" "$dst" "$([ "$step" -gt 1 ] && echo "x$step")"
  [ "$add_jobs" = 1 ] && printf ' --jobs %d' "$cpus"
  for o in "${passthrough[@]}"; do printf ' %q' "$o"; done
  printf '\n'
)

array=${tasks:-0-$((ntasks - 1))}
out=$(sbatch --parsable --array="$array" --cpus-per-task="$cpus" <<<"$script") || {
  echo "$prog: sbatch refused the job" >&2; exit 1; }
jobid=${out%%;*}

echo "Submitted array job $jobid: frames $frames, $count frames in $ntasks tasks of up to $chunk (tasks $array)"
echo "Follow it:         squeue -j $jobid"
echo "When it has ended: sacct -j $jobid --format=JobID,State,ExitCode,Elapsed"
echo "Task logs:         neb2vdb-${jobid}_<task>.log (in $(pwd))"
echo "Re-run task I alone, or the whole job for the frames still missing or out of date:"
printf '  %s %q %q --frames %s --chunk %d' "$0" "$src" "$dst" "$frames" "$chunk"
[ "$cpus" -gt 1 ] && printf ' --cpus-per-task %d' "$cpus"
for o in "${passthrough[@]}"; do printf ' %q' "$o"; done
printf ' [--tasks I]\n'
