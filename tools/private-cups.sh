#!/usr/bin/env bash
# A private CUPS scheduler whose queues write PDF files (cups-pdf), for the tests and for
# run-agent.sh on a computer without printers. The machine's own scheduler, its queues,
# /etc/cups and /var/spool/cups-pdf are left alone (but see PCUPS_CONF_MODE below).
#
#   eval "$(private-cups.sh start [OPTIONS] [QUEUE...])"
#       Starts a scheduler with these queues (none at all is fine) and prints the exports
#       PCUPS_DIR (its folder), CUPS_SERVER, PCUPS_OUT and PCUPS_HOME. The PDFs of queue Q
#       land in $PCUPS_OUT/Q/job_<id>-<title>.pdf.
#       --dir DIR      the scheduler's folder (default: a new /tmp/pcups.XXXXXX)
#       --out DIR      the PDFs' folder; stop keeps it when it is outside DIR (default DIR/out)
#       --default Q    Q is the default queue; without it there is none
#       --port N       listen on 127.0.0.1:N instead of a socket in DIR
#       --loglevel L   cupsd's LogLevel (default debug)
#       --watch PID    stop the scheduler and remove DIR once process PID has ended
#   private-cups.sh check
#       Says why start cannot work on this computer and fails, or says nothing.
#   private-cups.sh add-queue DIR QUEUE...
#   private-cups.sh add-paper-out-queue DIR QUEUE...
#       Queues of a printer that is out of paper: its backend reports media-empty on its
#       STATE: lines and fails every job after 2 s, which the queue then aborts.
#   private-cups.sh reject DIR QUEUE...
#       The queues refuse new jobs, as printers taken out of service do.
#   private-cups.sh disable DIR QUEUE...
#   private-cups.sh enable DIR QUEUE...
#       The queues stop printing (jobs wait, pending), or print again.
#   private-cups.sh jobs DIR [all|completed|not-completed]
#       One line per job in job-id order: ID, STATE, QUEUE and TITLE separated by tabs.
#   private-cups.sh wait-jobs DIR COUNT [TIMEOUT]
#       Waits until COUNT jobs exist and none is pending or processing.
#   private-cups.sh wait-idle DIR [TIMEOUT]
#       Waits until no job is pending or processing.
#   private-cups.sh wait-pdfs DIR QUEUE COUNT [TIMEOUT]
#       Waits until COUNT PDFs are in QUEUE's folder and no job is pending or processing.
#   private-cups.sh stop DIR [--keep]
#       Stops the scheduler and its watcher, and removes DIR unless --keep.
#
# TIMEOUT is in seconds (default 60). A job left pending on a disabled queue keeps the
# waits waiting until then; a job whose filters fail ends as processing-stopped, which
# counts as ended.
#
# Clients take the default queue from LPDEST, PRINTER and $HOME/.cups/lpoptions before the
# scheduler's own (lpadmin -d): run them with CUPS_SERVER=$CUPS_SERVER, HOME=$PCUPS_HOME
# and without LPDEST and PRINTER, and they see exactly the default given to start.
#
# cups-pdf reads its settings for a queue from /etc/cups/cups-pdf-<name>.conf, <name> from
# the device URI cups-pdf:/<name>, with /etc/cups compiled in. So by default cupsd runs in
# a mount namespace of its own where the private configuration folder is bound over
# /etc/cups. Where that is refused (or with PCUPS_CONF_MODE=etc), the settings are written
# to /etc/cups/cups-pdf-pcups<ID>_<queue>.conf instead, and stop deletes them.
set -euo pipefail

PATH="$PATH:/usr/sbin:/sbin"
umask 022
PPD=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
BACKEND=/usr/lib/cups/backend/cups-pdf

die() {
    echo "private-cups: $*" >&2
    exit 1
}

usage() {
    sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0" >&2
    exit 2
}

need_dir() {
    if [ -z "${1:-}" ] || [ ! -f "$1/server" ]; then die "not a private scheduler's folder: '${1:-}'"; fi
}

# Single-quoted for the shell that evals start's output.
shell_quote() {
    printf "'%s'" "${1//\'/\'\\\'\'}"
}

now_ms() {
    local micro=${EPOCHREALTIME/[.,]/}
    echo $((micro / 1000))
}

# Seconds, whole or decimal, as milliseconds.
seconds_ms() {
    [[ "$1" =~ ^([0-9]+)(\.([0-9]+))?$ ]] || die "bad timeout '$1' (seconds)"
    local fraction="${BASH_REMATCH[3]}000"
    echo $((10#${BASH_REMATCH[1]} * 1000 + 10#${fraction:0:3}))
}

# The first line of FILE into the variable named NAME, without starting a process: the
# scheduler's tests start many, and each process costs more than the rest of this script.
read_into() {   # NAME FILE
    IFS= read -r "$1" <"$2" || [ -n "${!1}" ]
}

# Sets PROCESS_START to the start time of a live process, in clock ticks since boot; fails
# for a zombie or none. A pid with its start time names one process, even once the pid has
# been reused.
process_start() {
    local stat fields
    { IFS= read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 1
    stat=${stat##*) }
    read -r -a fields <<<"$stat"
    [ "${fields[0]}" != Z ] || return 1
    PROCESS_START=${fields[19]}
}

# FILE holds "PID START" as written by remember_process.
same_process() {
    local pid start
    read -r pid start <"$1" 2>/dev/null || return 1
    process_start "$pid" && [ "$PROCESS_START" = "$start" ]
}

remember_process() {   # PID FILE
    process_start "$1" || return 1
    echo "$1 $PROCESS_START" >"$2"
}

remembered_pid() {
    local pid _
    read -r pid _ <"$1"
    echo "$pid"
}

# Runs a CUPS client against DIR's scheduler.
on_scheduler() {
    local dir=$1
    shift
    local server
    read_into server "$dir/server"
    CUPS_SERVER="$server" "$@"
}

# The scheduler's ipp URI, a socket path %-encoded.
ipp_base() {
    local server
    read_into server "$1/server"
    case "$server" in
    /*) echo "ipp://$(printf '%s' "$server" | sed 's|%|%25|g; s|/|%2F|g')" ;;
    *) echo "ipp://$server" ;;
    esac
}

device_name() {   # DIR QUEUE
    local mode id
    read_into mode "$1/confmode"
    if [ "$mode" = ns ]; then echo "$2"; else read_into id "$1/id"; echo "${id}_$2"; fi
}

why_unusable() {
    if [ "$(id -u)" != 0 ]; then
        echo "must run as root: cupsd runs the cups-pdf backend (mode 0700) only as root"
    elif ! command -v cupsd >/dev/null; then
        echo "cupsd is missing: apt-get install cups"
    elif ! command -v lpadmin >/dev/null || ! command -v lpstat >/dev/null; then
        echo "lpadmin or lpstat is missing: apt-get install cups-client"
    elif ! command -v ipptool >/dev/null; then
        echo "ipptool is missing: apt-get install cups-ipp-utils"
    elif [ ! -x "$BACKEND" ] || [ ! -f "$PPD" ]; then
        echo "cups-pdf is missing: apt-get install printer-driver-cups-pdf"
    fi
}

cmd_check() {
    local reason
    reason=$(why_unusable)
    [ -z "$reason" ] || die "$reason"
}

valid_queue_name() {
    [[ "$1" =~ ^[A-Za-z0-9_-]+$ ]] || die "bad queue name '$1' (use A-Z a-z 0-9 _ -)"
}

add_queues() {   # DIR QUEUE...
    local dir=$1 queue outroot mode out conf failure
    shift
    read_into outroot "$dir/outroot"
    read_into mode "$dir/confmode"
    for queue in "$@"; do
        valid_queue_name "$queue"
        out="$outroot/$queue"
        mkdir -p "$out"
        chmod 1777 "$out" # cups-pdf's Ghostscript writes as the job's user
        if [ "$mode" = ns ]; then
            conf="$dir/etc/cups-pdf-$queue.conf"
        else
            conf="/etc/cups/cups-pdf-$(device_name "$dir" "$queue").conf"
            echo "$conf" >>"$dir/etc-files"
        fi
        cat >"$conf" <<EOF
# Written by private-cups.sh for queue $queue
Out $out
AnonDirName $out
Spool $dir/cups-pdf-spool
Log $dir/log
GSTmp $dir/gstmp
UserUMask 0022
EOF
        # TitlePref=1 names the file after the job title, not the PostScript %%Title;
        # Label=1 puts job_<id>- before it, so that every job has a file of its own.
        failure=$(on_scheduler "$dir" lpadmin -p "$queue" -E -v "cups-pdf:/$(device_name "$dir" "$queue")" \
            -P "$PPD" -o TitlePref=1 -o Label=1 -o printer-error-policy=abort-job 2>&1) ||
            die "lpadmin refused queue $queue: $failure"
    done
}

# The system's filters and backends, and a backend of a printer that is out of paper; again
# on a restart in the same folder.
write_server_bin() {   # DIR
    local bin="$1/serverbin" part parts=()
    mkdir -p "$bin/backend"
    chmod 0755 "$bin" "$bin/backend"
    for part in /usr/lib/cups/*; do
        [ "${part##*/}" = backend ] || parts+=("$part")
    done
    ln -sfn "${parts[@]}" "$bin/"
    ln -sfn /usr/lib/cups/backend/* "$bin/backend/"
    cat >"$bin/backend/paper-out" <<'EOF'
#!/bin/sh
if [ $# -eq 0 ]; then
    echo 'direct paper-out "Unknown" "A printer out of paper"'
    exit 0
fi
echo "STATE: +media-empty-error" >&2
echo "ERROR: the printer is out of paper" >&2
sleep 2
exit 1
EOF
    chmod 0755 "$bin/backend/paper-out"
}

write_config() {   # DIR LISTEN LOGLEVEL
    local dir=$1
    write_server_bin "$dir"
    cat >"$dir/etc/cups-files.conf" <<EOF
ServerRoot $dir/etc
ServerBin $dir/serverbin
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
ErrorLog $dir/log/error_log
AccessLog $dir/log/access_log
PageLog $dir/log/page_log
Printcap $dir/state/printcap
User lp
Group lp
SystemGroup root
FileDevice No
EOF
    # Every job stays listed with its title, whoever asks, for as long as the scheduler runs.
    cat >"$dir/etc/cupsd.conf" <<EOF
Listen $2
LogLevel $3
MaxLogSize 0
Browsing No
BrowseLocalProtocols none
DefaultShared No
WebInterface No
DefaultAuthType None
ErrorPolicy abort-job
MaxJobs 0
PreserveJobHistory Yes
PreserveJobFiles No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none
  <Limit All>
    Order deny,allow
    Allow all
  </Limit>
</Policy>
EOF
    cat >"$dir/get-jobs.test" <<'EOF'
{
  OPERATION Get-Jobs
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR keyword which-jobs $which
  ATTR keyword requested-attributes job-id,job-state,job-printer-uri
  STATUS successful-ok
  DISPLAY job-id
  DISPLAY job-state
  DISPLAY job-printer-uri
}
EOF
}

start_cupsd() {   # DIR
    local dir=$1 conf="$1/etc/cupsd.conf" files="$1/etc/cups-files.conf" mode
    read_into mode "$dir/confmode"
    # Standard streams redirected, so that $(private-cups.sh start) does not wait for cupsd.
    # unshare and sh exec, so $! is cupsd's own pid.
    # shellcheck disable=SC2016
    if [ "$mode" = ns ]; then
        unshare -m sh -c 'mount --bind "$1" /etc/cups && exec cupsd -f -c "$2" -s "$3"' \
            sh "$dir/etc" "$conf" "$files" </dev/null >"$dir/log/cupsd.out" 2>&1 &
    else
        cupsd -f -c "$conf" -s "$files" </dev/null >"$dir/log/cupsd.out" 2>&1 &
    fi
    remember_process $! "$dir/cupsd.pid" || true

    local deadline=$(($(now_ms) + 10000))
    while [ "$(now_ms)" -lt "$deadline" ]; do
        on_scheduler "$dir" lpstat -r 2>/dev/null | grep -q 'scheduler is running' && return 0
        same_process "$dir/cupsd.pid" || break
        sleep 0.1
    done
    return 1
}

# Runs in the background: stops the scheduler once the watched process has ended. It sleeps
# in read's timeout on a pipe that never delivers, which a signal ends as it would sleep.
watch_process() {   # DIR PID START
    local dir=$1 never
    cd /
    trap '' INT HUP
    trap 'exit 0' TERM
    exec {never}<> <(:)
    while process_start "$2" && [ "$PROCESS_START" = "$3" ]; do
        same_process "$dir/cupsd.pid" || exit 0
        read -r -t 0.5 -u "$never" _ || true
    done
    cmd_stop "$dir"
}

cmd_start() {
    local dir="" made_dir="" outroot="" default="" port="" loglevel=debug watch="" watch_start=""
    while [ $# -gt 0 ]; do
        case "$1" in
        --dir | --out | --default | --port | --loglevel | --watch)
            [ $# -ge 2 ] || die "$1 needs a value"
            case "$1" in
            --dir) dir=$2 ;;
            --out) outroot=$2 ;;
            --default) default=$2 ;;
            --port) port=$2 ;;
            --loglevel) loglevel=$2 ;;
            --watch) watch=$2 ;;
            esac
            shift 2
            ;;
        --) shift; break ;;
        -*) die "unknown option $1" ;;
        *) break ;;
        esac
    done
    cmd_check
    local queue found=""
    for queue in "$@"; do
        valid_queue_name "$queue"
        [ "$queue" != "$default" ] || found=1
    done
    [ -z "$default" ] || [ -n "$found" ] || die "the default queue $default is not among the queues"
    if [ -n "$watch" ]; then
        process_start "$watch" || die "no process $watch to watch"
        watch_start=$PROCESS_START
    fi

    if [ -z "$dir" ]; then
        dir=$(mktemp -d /tmp/pcups.XXXXXX)
        made_dir=1
    else
        mkdir -p "$dir"
    fi
    dir=$(cd "$dir" && pwd)
    # From here on a failed start takes down what it made. Expanded now: the trap runs
    # after this function's variables are gone.
    # shellcheck disable=SC2064
    trap "start_failed $(shell_quote "$dir") '$made_dir'" EXIT
    # Filters run as user lp and must reach the spool in DIR, so must get through every parent.
    chmod 0755 "$dir"
    local parent=$dir parents=() mode_and_path
    while [ -n "$parent" ]; do
        parent=${parent%/*}
        parents+=("${parent:-/}")
    done
    while read -r mode_and_path; do
        ((0${mode_and_path%% *} & 1)) || die "user lp cannot get through ${mode_and_path#* } (o+x) to reach $dir"
    done < <(stat -c '%a %n' "${parents[@]}")
    mkdir -p "$dir"/{etc/ppd,spool/tmp,cache,state,log,cups-pdf-spool,gstmp,home/.cups}
    chmod 1777 "$dir/gstmp" # TMPDIR of cups-pdf's Ghostscript, which runs as the job's user
    [ -n "$outroot" ] || outroot="$dir/out"
    mkdir -p "$outroot"
    outroot=$(cd "$outroot" && pwd)
    echo "$outroot" >"$dir/outroot"
    local id=${dir##*/}
    echo "${id//[^A-Za-z0-9]/}" >"$dir/id"

    local server
    if [ -n "$port" ]; then
        server="127.0.0.1:$port"
    else
        server="$dir/cups.sock"
        [ ${#server} -lt 100 ] || die "socket path too long: $server"
    fi
    echo "$server" >"$dir/server"

    local mode=${PCUPS_CONF_MODE:-auto}
    if [ "$mode" = auto ]; then
        # shellcheck disable=SC2016
        if [ -d /etc/cups ] && unshare -m sh -c 'mount --bind "$1" /etc/cups' sh "$dir/etc" 2>/dev/null; then
            mode=ns
        else
            mode=etc
        fi
    fi
    echo "$mode" >"$dir/confmode"

    write_config "$dir" "$server" "$loglevel"
    local rejected
    rejected=$(cupsd -t -c "$dir/etc/cupsd.conf" -s "$dir/etc/cups-files.conf" 2>&1) ||
        die "cupsd rejects the configuration: $rejected"

    if ! start_cupsd "$dir"; then
        die "cupsd did not come up: $(tail -n 5 "$dir/log/cupsd.out" "$dir/log/error_log" 2>&1)"
    fi
    add_queues "$dir" "$@"
    if [ -n "$default" ]; then
        on_scheduler "$dir" lpadmin -d "$default"
        echo "Default $default" >"$dir/home/.cups/lpoptions"
    fi
    if [ -n "$watch" ]; then
        watch_process "$dir" "$watch" "$watch_start" </dev/null >/dev/null 2>&1 &
        remember_process $! "$dir/watch.pid"
    fi
    trap - EXIT

    echo "export PCUPS_DIR=$(shell_quote "$dir")"
    echo "export CUPS_SERVER=$(shell_quote "$server")"
    echo "export PCUPS_OUT=$(shell_quote "$outroot")"
    echo "export PCUPS_HOME=$(shell_quote "$dir/home")"
}

start_failed() {   # DIR MADE_DIR
    if [ -f "$1/server" ]; then
        if [ -n "$2" ]; then cmd_stop "$1"; else cmd_stop "$1" --keep; fi
    elif [ -n "$2" ]; then
        rm -rf "$1"
    fi
}

# Get-Jobs as CSV rows job-id,job-state,job-printer-uri.
get_jobs() {   # DIR WHICH
    local rows
    rows=$(ipptool -c -d "which=$2" "$(ipp_base "$1")/" "$1/get-jobs.test") || return 1
    tail -n +2 <<<"$rows"
}

cmd_jobs() {   # DIR [WHICH]
    local dir=${1:-} which=${2:-all} listed titles request id
    need_dir "$dir"
    listed=$(get_jobs "$dir" "$which") || die "the scheduler in $dir does not answer"
    [ -n "$listed" ] || return 0
    # Get-Jobs leaves job-name out once cupsd has unloaded an ended job; Get-Job-Attributes
    # loads it again.
    request=$(mktemp "$dir/job-names.XXXXXX")
    while IFS=, read -r id _; do
        cat >>"$request" <<EOF
{
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  ATTR integer job-id $id
  ATTR keyword requested-attributes job-id,job-name
  STATUS successful-ok
  DISPLAY job-id
  DISPLAY job-name
}
EOF
    done <<<"$listed"
    # A title with control characters fails ipptool's checks; -I goes on with the next job,
    # and that one is listed without a title.
    titles=$(ipptool -I -c "$(ipp_base "$dir")/" "$request" 2>/dev/null | grep -E '^[0-9]+,' || true)
    rm -f "$request"
    # ipptool quotes a CSV value holding , " or \ and escapes " and \ inside with \, on top of
    # the IPP text escapes (\ before \ " and [), so a quoted title is unescaped twice.
    awk '
        function unescape(text,   out, i, c) {
            out = ""
            for (i = 1; i <= length(text); i++) {
                c = substr(text, i, 1)
                if (c == "\\" && i < length(text)) c = substr(text, ++i, 1)
                out = out c
            }
            return out
        }
        function after_comma(text) { return substr(text, index(text, ",") + 1) }
        NR == FNR {
            name = after_comma($0)
            if (length(name) >= 2 && name ~ /^".*"$/)
                name = unescape(unescape(substr(name, 2, length(name) - 2)))
            title[$0 + 0] = name
            next
        }
        {
            split($0, field, ",")
            queue = field[3]
            sub(/.*\//, "", queue)
            print field[1] "\t" field[2] "\t" queue "\t" title[field[1] + 0]
        }
    ' <(printf '%s\n' "$titles") <(printf '%s\n' "$listed") | sort -n -k1,1
}

cmd_wait_jobs() {   # DIR COUNT [TIMEOUT]
    local dir=${1:-} count=${2:-} deadline listed busy total
    need_dir "$dir"
    [[ "$count" =~ ^[0-9]+$ ]] || die "bad job count '$count'"
    deadline=$(($(now_ms) + $(seconds_ms "${3:-60}")))
    while :; do
        if listed=$(get_jobs "$dir" all 2>/dev/null); then
            busy=$(grep -E '^[0-9]+,(pending|processing),' <<<"$listed" || true)
            total=$(grep -c '^[0-9]' <<<"$listed" || true)
            [ -z "$busy" ] && [ "$total" -ge "$count" ] && return 0
        else
            busy="(the scheduler does not answer)"
            total=0
        fi
        [ "$(now_ms)" -lt "$deadline" ] || break
        sleep 0.1
    done
    echo "private-cups: $total of $count jobs after ${3:-60} s; pending or processing:" >&2
    echo "${busy:-none}" >&2
    return 1
}

cmd_wait_pdfs() {   # DIR QUEUE COUNT [TIMEOUT]
    local dir=${1:-} queue=${2:-} count=${3:-} deadline out found=0
    need_dir "$dir"
    [[ "$count" =~ ^[0-9]+$ ]] || die "bad PDF count '$count'"
    deadline=$(($(now_ms) + $(seconds_ms "${4:-60}")))
    read_into out "$dir/outroot"
    out="$out/$queue"
    while :; do
        found=$(find "$out" -maxdepth 1 -name '*.pdf' 2>/dev/null | wc -l)
        # Ghostscript writes the PDF in place: it is whole only once its job has ended.
        [ "$found" -ge "$count" ] && cmd_wait_jobs "$dir" 0 0 2>/dev/null && return 0
        [ "$(now_ms)" -lt "$deadline" ] || break
        sleep 0.1
    done
    echo "private-cups: $found of $count PDFs in $out after ${4:-60} s" >&2
    return 1
}

# Sends SIGNAL to the remembered process, then waits up to MS for it to end.
end_process() {   # FILE SIGNAL MS
    same_process "$1" || return 0
    kill "-$2" "$(remembered_pid "$1")" 2>/dev/null || true
    local deadline=$(($(now_ms) + $3))
    while same_process "$1"; do
        [ "$(now_ms)" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}

# Every process below PID, one "PID START" line each.
descendants() {
    local child
    for child in $(pgrep -P "$1"); do
        process_start "$child" || continue
        echo "$child $PROCESS_START"
        descendants "$child"
    done
}

cmd_stop() {   # DIR [--keep]
    local dir=${1:-} pid start
    if [ -z "$dir" ] || [ ! -f "$dir/server" ]; then die "usage: stop DIR (a folder made by start)"; fi
    if [ -f "$dir/watch.pid" ] && [ "$(remembered_pid "$dir/watch.pid")" != "$BASHPID" ]; then
        end_process "$dir/watch.pid" TERM 2000 || end_process "$dir/watch.pid" KILL 1000 || true
    fi
    if [ -f "$dir/cupsd.pid" ] && ! end_process "$dir/cupsd.pid" TERM 10000; then
        # cupsd hangs: its filters and backends would outlive it.
        descendants "$(remembered_pid "$dir/cupsd.pid")" | while read -r pid start; do
            if process_start "$pid" && [ "$PROCESS_START" = "$start" ]; then
                kill -KILL "$pid" 2>/dev/null || true
            fi
        done
        end_process "$dir/cupsd.pid" KILL 2000 || die "cupsd $(remembered_pid "$dir/cupsd.pid") does not end"
    fi
    if [ -f "$dir/etc-files" ]; then
        xargs -r -d '\n' rm -f <"$dir/etc-files"
        rm -f "$dir/etc-files"
    fi
    [ "${2:-}" = --keep ] || rm -rf "$dir"
}

add_paper_out_queues() {   # DIR QUEUE...
    local dir=$1 queue failure
    shift
    for queue in "$@"; do
        valid_queue_name "$queue"
        failure=$(on_scheduler "$dir" lpadmin -p "$queue" -E -v "paper-out:/" -P "$PPD" \
            -o printer-error-policy=abort-job 2>&1) ||
            die "lpadmin refused queue $queue: $failure"
    done
}

command=${1:-}
[ $# -eq 0 ] || shift
case "$command" in
start) cmd_start "$@" ;;
check) cmd_check ;;
add-queue)
    need_dir "${1:-}"
    dir=$1
    shift
    add_queues "$dir" "$@"
    ;;
add-paper-out-queue)
    need_dir "${1:-}"
    dir=$1
    shift
    add_paper_out_queues "$dir" "$@"
    ;;
reject | disable | enable)
    need_dir "${1:-}"
    dir=$1
    shift
    on_scheduler "$dir" "cups$command" "$@"
    ;;
jobs) cmd_jobs "$@" ;;
wait-jobs) cmd_wait_jobs "$@" ;;
wait-idle) cmd_wait_jobs "${1:-}" 0 "${2:-60}" ;;
wait-pdfs) cmd_wait_pdfs "$@" ;;
stop) cmd_stop "$@" ;;
*) usage ;;
esac
