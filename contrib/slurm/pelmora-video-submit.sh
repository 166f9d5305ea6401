#!/bin/bash
#
# pelmora-video-submit.sh: submits the scan of one video in N stretches and the join that
# waits for them (see pelmora-video.sbatch), and prints the two job ids, the array's first:
#
#   pelmora-video-submit.sh N VIDEO OUTPUT [PELMORA-SCAN OPTIONS...]
#
# SBATCH_* variables (SBATCH_PARTITION, SBATCH_TIMELIMIT, ...) reach both submissions; the
# folder of submission gets the jobs' .jsonl and .log files.

set -euo pipefail

if (($# < 3)) || [[ ! $1 =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $(basename "$0") N VIDEO OUTPUT [PELMORA-SCAN OPTIONS...]" >&2
    exit 2
fi
count=$1
video=$2
output=$3
shift 3
job=$(dirname "$(realpath "$0")")/pelmora-video.sbatch

stretches=$(sbatch --parsable --array=0-$((count - 1)) "$job" "$video" "$output" "$@")
stretches=${stretches%%;*}
join=$(sbatch --parsable --dependency=afterok:"$stretches" --kill-on-invalid-dep=yes \
    --output=pelmora-%j-join.jsonl --error=pelmora-%j-join.log "$job" --join "$output" "$@")
echo "$stretches ${join%%;*}"
