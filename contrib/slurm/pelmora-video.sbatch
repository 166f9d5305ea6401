#!/bin/bash
#
# pelmora-video.sbatch: scans one long video as a Slurm array job of N stretches, then joins
# them into exactly the files one pelmora-scan over the whole video would have left. Submit
# both steps with pelmora-video-submit.sh, or by hand:
#
#   jobid=$(sbatch --parsable --array=0-9 pelmora-video.sbatch VIDEO OUTPUT [OPTIONS...])
#   sbatch --dependency=afterok:$jobid pelmora-video.sbatch --join OUTPUT [OPTIONS...]
#
# Task K of the array runs
#
#   pelmora-scan --segment K/N --summary json --output OUTPUT [OPTIONS] VIDEO
#
# which scans the K-th of N stretches of equal frame count into a folder of its own inside
# OUTPUT; the job that waits for all of them (afterok: only if every task succeeded) runs
#
#   pelmora-scan --join OUTPUT --summary json [OPTIONS]
#
# which scans each stretch again from its start only until it meets the one run, moves the
# snapshots into OUTPUT and writes the lists, report and record there. Give both steps the
# same OPTIONS: the join refuses stretches scanned with other options. A video whose frames
# cannot be told exactly after a seek (no index, variable rate) is scanned by the join as one
# run. OUTPUT must be a folder every node sees.
#
# As in pelmora-array.sbatch, the array must be a whole range of task numbers, the standard
# output is the JSON summary (pelmora-JOBID_TASK.jsonl) and pelmora-scan is taken from PATH
# unless PELMORA_SCAN names another one.
#
#SBATCH --job-name=pelmora-video
#SBATCH --output=pelmora-%A_%a.jsonl
#SBATCH --error=pelmora-%A_%a.log

set -euo pipefail

usage() {
    echo "usage: sbatch --array=0-N $(basename "$0") VIDEO OUTPUT [PELMORA-SCAN OPTIONS...]" >&2
    echo "       sbatch --dependency=afterok:JOB $(basename "$0") --join OUTPUT [OPTIONS...]" >&2
    exit 2
}
(($# >= 2)) || usage
scan=${PELMORA_SCAN:-pelmora-scan}

# pelmora-scan would start a snapshot writer for every processor of the node; nproc counts only
# those this task may use. --jobs given in OPTIONS wins.
threads=(--jobs "$(($(nproc) < 64 ? $(nproc) : 64))")
for option in "${@:3}"; do
    case $option in
        -j* | --jobs | --jobs=*) threads=() ;;
        --) break ;;
    esac
done

if [[ $1 == --join ]]; then
    output=$2
    shift 2
    exec "$scan" --join "$output" --summary json "${threads[@]}" "$@"
fi

video=$1
output=$2
shift 2
if [[ -z ${SLURM_ARRAY_TASK_ID:-} ]]; then
    echo "not an array task: submit with sbatch --array=0-N, or give --join" >&2
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
exec "$scan" --segment "$((SLURM_ARRAY_TASK_ID - first))/$count" --summary json \
    --output "$output" "${threads[@]}" "$@" -- "$video"
