#!/bin/bash
#
# pelmora-array.sbatch: scans a list of videos as a Slurm array job. Task K of an array of N
# tasks scans the videos at positions K, K + N, K + 2N, ... of the sorted list, so the tasks
# split any list between them without talking to each other. Every task runs
#
#   pelmora-scan --list LIST --shard K/N --resume --summary json --output OUTPUT [OPTIONS]
#
# Submit it from a folder that the compute nodes see, with as many tasks as you want shards:
#
#   sbatch --array=0-9 pelmora-array.sbatch LIST OUTPUT [OPTIONS...]
#
#   LIST     a file of video paths, one a line (blank lines and lines starting with # are
#            ignored); relative paths are taken from the folder you submit from
#   OUTPUT   the folder for the snapshots, shared by all tasks: each video gets a folder of its
#            own in it, with the record that lets a later run skip the video
#   OPTIONS  more pelmora-scan options for every task, for example --threshold 25
#
# Any whole range of task numbers will do (--array=1-10, or --array=0-99%8 to run at most
# eight at a time); a step or a list (--array=0-9:2, --array=1,4,7) would leave shards out,
# and the script refuses it. Each task writes snapshots on one thread for each processor it
# may use: ask for more with --cpus-per-task.
#
# The results: each task's standard output is its JSON lines, one object per video (video,
# status, frames, written, lost, seconds, output), which Slurm writes to
# pelmora-JOBID_TASK.jsonl in the folder of submission; progress and errors go to
# pelmora-JOBID_TASK.log. Collect the lines of the whole job with
#
#   cat pelmora-JOBID_*.jsonl > summary.jsonl
#
# and, once every task is done, put every camera's events on one clock in OUTPUT/overview.html
# (with the --time-zone the tasks were given, if any), for instance as a job that waits for the
# array: sbatch --dependency=afterany:JOBID --wrap "pelmora-scan --overview-from OUTPUT"
#
# A task that could not open a video or save a snapshot ends with status 1, and Slurm marks it
# FAILED. Submitting the same command again (with any number of tasks) scans only the videos
# that have not finished yet: the others say "skipped". Give --output and --error to sbatch to
# put the files elsewhere; %A is the job and %a the task number.
#
# pelmora-scan is taken from PATH; set PELMORA_SCAN to the path of another one (sbatch passes
# the environment of submission on to the tasks).
#
#SBATCH --job-name=pelmora
#SBATCH --output=pelmora-%A_%a.jsonl
#SBATCH --error=pelmora-%A_%a.log

set -euo pipefail

if (($# < 2)); then
    echo "usage: sbatch --array=0-N $(basename "$0") LIST OUTPUT [PELMORA-SCAN OPTIONS...]" >&2
    exit 2
fi
list=$1
output=$2
shift 2

if [[ -z ${SLURM_ARRAY_TASK_ID:-} ]]; then
    echo "not an array task: submit with sbatch --array=0-N" >&2
    exit 2
fi
first=${SLURM_ARRAY_TASK_MIN:?}
last=${SLURM_ARRAY_TASK_MAX:?}
count=${SLURM_ARRAY_TASK_COUNT:-$((last - first + 1))}
if ((last - first + 1 != count)); then
    echo "the array must be a whole range of task numbers, such as 0-$((count - 1))," \
        "not $count tasks between $first and $last" >&2
    exit 2
fi

# pelmora-scan would start a snapshot writer for every processor of the node; nproc counts only
# those this task may use, where Slurm binds tasks to their processors. --jobs given in OPTIONS
# wins.
threads=(--jobs "$(($(nproc) < 64 ? $(nproc) : 64))")
for option in "$@"; do
    case $option in
        -j* | --jobs | --jobs=*) threads=() ;;
        --) break ;;
    esac
done

exec "${PELMORA_SCAN:-pelmora-scan}" --list "$list" --shard "$((SLURM_ARRAY_TASK_ID - first))/$count" \
    --resume --summary json --output "$output" "${threads[@]}" "$@"
