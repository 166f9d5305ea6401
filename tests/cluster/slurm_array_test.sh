#!/usr/bin/env bash
# The array job of contrib/slurm on a real Slurm cluster of one node, which this script starts
# from a configuration of its own and stops again:
#
#   slurm_array_test.sh PELMORA-SCAN ARRAY-JOB
#
# It makes a handful of videos, submits the job with three tasks and checks that the tasks
# together leave exactly the files of one pelmora-scan over the whole list, and that a second
# submission runs nothing; then scans one video in stretches with the one-video job beside it
# (an array and a join that waits for it) and checks that the joined folder is one run's, file
# for file. Exit status 77 (skipped) when the cluster cannot start here, with
# the reason; 1 for a fault.
#
# What bringing the cluster up took (Debian 12: Slurm 22.05, munge 0.5.15; root, no init
# system, found in a virtual machine with cgroup v1 mounted but unused):
# - Installing slurmctld, slurmd and munge starts nothing where there is no init: invoke-rc.d
#   finds no runlevel and blocks, in a fresh chroot as in a container image whose policy-rc.d
#   forbids it anyway. Under systemd the package's munged would run; this cluster uses neither
#   its key and socket nor the default ports.
# - munged runs as root in the foreground with its own key, socket, pid and seed files. It
#   refuses a socket in a folder that not everyone may search ("Socket is inaccessible"), so
#   the work folder is made 0755 (mktemp makes it 0700). It stays short, in /tmp: a Unix
#   socket's path has at most 107 bytes. Slurm finds the socket through AuthInfo.
# - slurmctld -D and slurmd -D stay in the foreground as children of this script, which knows
#   their ids, and log to standard error. slurmctld forks slurmscriptd, which ends with it.
# - The node has the machine's short name but is reached at 127.0.0.1 (NodeAddr, and the
#   address in SlurmctldHost), so that name need not resolve; slurmd -N gives the node its
#   name. Neither --conf-server nor SlurmdParameters was needed, and there is no Prolog.
# - Without cgroups: proctrack/linuxproc follows a job's processes through their parents and
#   task/none binds nothing; no accounting storage, no job completion log. slurmd still starts
#   a cgroup plugin and, in a chroot without /sys, stopped with "cgroup filesystem not mounted
#   in /sys/fs/cgroup/"; cgroup/v1 pointed at an empty folder (cgroup.conf, found beside
#   slurm.conf) started both there and here, and touches nothing; cgroup/v2 refused this
#   machine, which has both versions mounted ("Hybrid mode is not supported"). No MailProg is
#   installed, so it is /bin/true. The MPI plugins log that PMIx is missing, which does not
#   matter to sbatch.
# - The daemons come up within a second or two. sbatch --wait polls after 2 s, then 8 s later,
#   then every 32 s, so each submission here takes about 10 s. Polling faster needs a
#   MinJobAge so short that the controller may forget a finished job before sbatch asks, and
#   sbatch then has no exit status to give; so the test keeps the default, and it reads what
#   every task wrote rather than trusting sbatch's status alone.
# - slurmstepd outlives slurmd by design: jobs are cancelled before the daemons stop.
# - munged logs "Unauthorized credential for client UID=0" a few times a run; nothing in
#   Slurm's logs goes wrong with it. Slurm and this script need /proc: a chroot without it
#   skips the test.
set -euo pipefail

scan=$(realpath "${1:?usage: $0 PELMORA-SCAN ARRAY-JOB}")
array_job=$(realpath "${2:?usage: $0 PELMORA-SCAN ARRAY-JOB}")
export PATH=/usr/sbin:/sbin:$PATH
tasks=3

say() { echo "$*" >&2; }
fail() {
    say "FAILED: $*"
    exit 1
}
skip() {
    say "SKIPPED: $*"
    exit 77
}

[[ $(id -u) -eq 0 ]] || skip "the test cluster runs its daemons as root; run the tests as root"
for need in munged:munge munge:munge slurmctld:slurmctld slurmd:slurmd sbatch:slurm-client \
    sinfo:slurm-client squeue:slurm-client scancel:slurm-client ffmpeg:ffmpeg jq:jq; do
    command -v "${need%%:*}" >/dev/null ||
        fail "${need%%:*} is missing: install the Debian package ${need##*:} (scripts/install-deps.sh test)"
done

work=$(mktemp -d /tmp/pelmora-cluster.XXXXXX)
chmod 0755 "$work"
mkdir -p "$work"/{munge,state,spool,log,jobs,videos}
# Every process of this cluster inherits this mark, which finds any that outlive the cleanup.
export PELMORA_CLUSTER_TEST=$work
export SLURM_CONF=$work/slurm.conf
export PELMORA_SCAN=$scan
node=$(hostname -s)
munged_pid=
waiting_pid=
slurmctld_pid=
slurmd_pid=
cluster_up=false

# The last lines of each log in a folder: the daemons', to say why they did not come up, or the
# tasks'.
tail_logs() {
    local log
    for log in "$1"/*.log; do
        [[ -s $log ]] || continue
        say "--- last lines of $(basename "$log"):"
        tail -n 15 "$log" >&2
    done
}

# Whether the process is still running: a child that has ended stays a zombie until waited
# for, and kill -0 still reaches it.
running() {
    local stat
    [[ -n $1 ]] && stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [[ ${stat:0:1} != Z ]]
}

stopped() { ! running "$1"; }

# Runs a command in the background and waits for it: bash handles a signal only between
# commands, and the wait for a job should not delay the cleanup by minutes.
interruptible() {
    local status=0
    "$@" &
    waiting_pid=$!
    wait "$waiting_pid" || status=$?
    waiting_pid=
    return "$status"
}

# Waits up to SECONDS for a command to succeed.
wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}

stop() {
    local pid=$1
    [[ -n $pid ]] || return 0
    kill -TERM "$pid" 2>/dev/null || true
    if ! wait_until 15 stopped "$pid"; then
        say "process $pid did not stop on SIGTERM: killing it"
        kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
}

no_jobs_left() {
    [[ -z $(timeout 10 squeue -h -o %i 2>/dev/null) ]]
}

cleanup() {
    local status=$?
    set +e
    trap - EXIT INT TERM
    stop "$waiting_pid"
    if [[ $cluster_up == true ]]; then
        local jobs
        jobs=$(timeout 10 squeue -h -o %F 2>/dev/null | sort -u)
        if [[ -n $jobs ]]; then
            # shellcheck disable=SC2086
            timeout 10 scancel $jobs
            wait_until 20 no_jobs_left || say "jobs still queued: $jobs"
        fi
    fi
    if ((status != 0 && status != 77)); then
        tail_logs "$work/log"
        tail_logs "$work/jobs"
    fi
    stop "$slurmd_pid"
    stop "$slurmctld_pid"
    stop "$munged_pid"
    local proc pid left=()
    for proc in /proc/[0-9]*; do
        pid=${proc#/proc/}
        ((pid != $$)) || continue
        if grep -qzx "PELMORA_CLUSTER_TEST=$work" "$proc/environ" 2>/dev/null; then
            left+=("$pid $(tr '\0' ' ' <"$proc/cmdline" 2>/dev/null)")
            kill -KILL "$pid" 2>/dev/null
        fi
    done
    if ((${#left[@]} > 0)); then
        say "killed what the cluster left running:"
        printf '  %s\n' "${left[@]}" >&2
        ((status != 0)) || status=1
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Two neighbouring TCP ports that nothing on this machine uses, below the range the kernel
# hands out to outgoing connections.
ports_in_use() {
    local _ address
    cat /proc/net/tcp /proc/net/tcp6 2>/dev/null | while read -r _ address _; do
        [[ $address == *:* ]] && echo $((16#${address##*:}))
    done
}
free_ports() {
    local lowest used port _
    read -r lowest _ </proc/sys/net/ipv4/ip_local_port_range
    ((lowest > 12000)) || lowest=32768
    used=" $(ports_in_use | tr '\n' ' ') "
    for _ in $(seq 100); do
        port=$((10000 + RANDOM % (lowest - 10002)))
        if [[ $used != *" $port "* && $used != *" $((port + 1)) "* ]]; then
            echo "$port"
            return
        fi
    done
    skip "no two free TCP ports found"
}

start_munge() {
    local key=$work/munge/munge.key
    head -c 1024 /dev/urandom >"$key"
    chmod 0400 "$key"
    munged --foreground --socket="$work/munge/socket" --key-file="$key" \
        --pid-file="$work/munge/munged.pid" --seed-file="$work/munge/munged.seed" \
        2>"$work/log/munged.log" &
    munged_pid=$!
    munge_works() {
        running "$munged_pid" || return 0
        munge -n -S "$work/munge/socket" 2>/dev/null | unmunge -S "$work/munge/socket" >/dev/null 2>&1
    }
    if ! wait_until 10 munge_works || ! running "$munged_pid"; then
        tail_logs "$work/log"
        skip "munged does not start here"
    fi
}

write_configuration() {
    local port
    port=$(free_ports)
    cat >"$SLURM_CONF" <<EOF
ClusterName=pelmoratest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$work/munge/socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SwitchType=switch/none
MailProg=/bin/true
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=pelmora Nodes=$node Default=YES MaxTime=30 State=UP
EOF
    # slurmd loads a cgroup plugin even when nothing uses cgroups, and fails where the machine
    # has none mounted where it looks; an empty folder of this cluster's own satisfies it.
    mkdir -p "$work/cgroup"
    cat >"$work/cgroup.conf" <<EOF
CgroupPlugin=cgroup/v1
CgroupMountpoint=$work/cgroup
EOF
}

node_idle() {
    running "$slurmctld_pid" && running "$slurmd_pid" || return 0
    [[ $(timeout 5 sinfo -h -N -n "$node" -o %t 2>/dev/null) == idle ]]
}

start_slurm() {
    slurmctld -D -i -f "$SLURM_CONF" >"$work/log/slurmctld.log" 2>&1 &
    slurmctld_pid=$!
    slurmd -D -f "$SLURM_CONF" -N "$node" >"$work/log/slurmd.log" 2>&1 &
    slurmd_pid=$!
    cluster_up=true
    if ! wait_until 30 node_idle || ! running "$slurmctld_pid" || ! running "$slurmd_pid"; then
        tail_logs "$work/log"
        running "$slurmctld_pid" || skip "slurmctld does not start here"
        running "$slurmd_pid" || skip "slurmd does not start here"
        skip "the node did not become idle within 30 s: $(timeout 5 sinfo -h -N -o '%t %E' 2>&1)"
    fi
}

start=$SECONDS
start_munge
write_configuration
start_slurm
say "one-node cluster up on $node in $((SECONDS - start)) s"

# Five short lossless videos in nested folders, different enough in length and motion that a
# mix-up between them shows: moving test patterns give a snapshot for most frames, still bars
# only one. Two share a name, so their folders are told apart by the order of the whole list,
# whichever task scans them.
make_video() {
    local path=$work/videos/$1 source=$2
    mkdir -p "$(dirname "$path")"
    ffmpeg -nostdin -loglevel error -f lavfi -i "$source" -c:v ffv1 "$path" ||
        fail "ffmpeg could not make $1"
    echo "$path" >>"$work/videos.txt"
}
make_videos() {
    echo "# the videos of the cluster test" >"$work/videos.txt"
    make_video cam1/morning.avi testsrc=size=96x72:rate=5:duration=2
    make_video cam1/noon.avi testsrc2=size=96x72:rate=5:duration=3
    make_video cam2/morning.mkv smptebars=size=96x72:rate=5:duration=2
    make_video cam2/Yard.AVI testsrc=size=80x60:rate=10:duration=1
    make_video street.avi rgbtestsrc=size=96x72:rate=5:duration=2
}

# The fields that must agree between two runs, one line per video, sorted; the output folder
# relative to the folder given to --output.
comparable() {
    jq -c --arg base "$2/" '{video, status, frames, written, lost,
        output: (.output | ltrimstr($base))}' "$1" | sort
}

# Submits the array job and waits for it; prints what all its tasks wrote to standard output.
submit() {
    local name=$1 task status=0
    interruptible timeout 120 sbatch --wait --array=0-$((tasks - 1)) --time=5 --chdir="$work" \
        --output="$work/jobs/$name-%a.jsonl" --error="$work/jobs/$name-%a.log" \
        "$array_job" "$work/videos.txt" "$work/out" >"$work/log/sbatch-$name.log" 2>&1 ||
        status=$?
    ((status != 124)) || fail "the $name submission did not end within 120 s"
    ((status == 0)) || fail "the $name submission ended with status $status:" \
        "$(cat "$work/log/sbatch-$name.log")"
    for ((task = 0; task < tasks; task++)); do
        [[ -f $work/jobs/$name-$task.jsonl ]] ||
            fail "task $task of the $name submission left no output"
    done
    cat "$work/jobs/$name"-*.jsonl
}

make_videos
"$scan" --list "$work/videos.txt" --summary json --output "$work/reference" \
    >"$work/reference.jsonl" 2>"$work/log/reference.log" ||
    fail "pelmora-scan alone: $(cat "$work/log/reference.log")"
videos=$(grep -c '^/' "$work/videos.txt")
[[ $(wc -l <"$work/reference.jsonl") -eq $videos ]] ||
    fail "pelmora-scan alone did not report each of the $videos videos: $(cat "$work/reference.jsonl")"

# The tasks together: every video once, with the same results and files as one process.
submit first >"$work/first.jsonl"
diff <(comparable "$work/reference.jsonl" "$work/reference") \
    <(comparable "$work/first.jsonl" "$work/out") >&2 ||
    fail "the tasks' JSON lines (>) differ from those of pelmora-scan alone (<)"
diff -r "$work/reference" "$work/out" >&2 ||
    fail "the tasks' folders differ from those of pelmora-scan alone"
say "$tasks tasks scanned $videos videos, $(find "$work/out" -type f | wc -l) files as from one process"

# Again: every video is skipped and no file is touched.
listing() { (cd "$work/out" && find . -printf '%p %s %T@\n' | sort); }
before=$(listing)
submit again >"$work/again.jsonl"
diff <(jq -r .video "$work/reference.jsonl" | sort) <(jq -r .video "$work/again.jsonl" | sort) >&2 ||
    fail "the second submission's videos (>) are not those of the list (<)"
not_skipped=$(jq -c 'select(.status != "skipped")' "$work/again.jsonl")
[[ -z $not_skipped ]] || fail "the second submission ran videos again: $not_skipped"
[[ $(listing) == "$before" ]] || fail "the second submission changed files"
say "the second submission skipped all $videos videos; the whole test took $((SECONDS - start)) s"

# One video in stretches: four array tasks and the join that waits for them leave exactly the
# files of one pelmora-scan over the video.
submit_video=$(dirname "$array_job")/pelmora-video-submit.sh
ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=size=96x72:rate=10:duration=6 -c:v ffv1 \
    -g 10 "$work/long.avi" || fail "ffmpeg could not make long.avi"
"$scan" --events --output "$work/long-one" "$work/long.avi" >/dev/null 2>"$work/log/long-one.log" ||
    fail "pelmora-scan alone on long.avi: $(cat "$work/log/long-one.log")"
read -r stretches join < <(cd "$work/jobs" && SBATCH_TIMELIMIT=5 "$submit_video" 4 \
    "$work/long.avi" "$work/long-joined" --events 2>"$work/log/submit-video.log") ||
    fail "the one-video submission failed: $(cat "$work/log/submit-video.log")"
[[ -n $join ]] || fail "the one-video submission gave no join job: $(cat "$work/log/submit-video.log")"
job_gone() { [[ -z $(timeout 5 squeue -h -j "$1" -o %i 2>/dev/null) ]]; }
wait_until 120 job_gone "$join" || fail "the join job $join did not end within 120 s"
joined=$work/jobs/pelmora-$join-join.jsonl
[[ $(jq -r .status "$joined" 2>/dev/null) == finished ]] ||
    fail "the join job $join after the stretches $stretches did not finish: $(cat "$joined" 2>&1)"
diff -r "$work/long-one" "$work/long-joined" >&2 ||
    fail "the joined folder differs from that of pelmora-scan alone"
say "4 stretches and their join left the $(find "$work/long-joined" -type f | wc -l) files of one run"
