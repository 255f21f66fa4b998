#!/usr/bin/env bash
# Installs what is missing, builds the benchmarks in release mode into build-bench/, runs each
# several times and prints one table: every figure beside the baseline measured in the same
# run, their ratio and its target, as medians over the runs. As root, the programs that serve
# on the agent's fixed ports run in a network namespace of their own, so that an agent
# already running on this computer neither disturbs them nor is disturbed.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/tools/common.sh"

usage() {
    cat <<'EOF'
Usage: tools/run-benchmarks.sh [--runs N] [--idle-runs N] [--only NAME]... [--markdown]

  --runs N       runs of each benchmark (default 3); the table shows medians over them
  --idle-runs N  runs of the 30-second idle benchmark (default 3)
  --only NAME    only this benchmark (repeatable): page-drawing, row-layout,
                 reader-latency, requests, fanout, idle, soak, request-bounds,
                 client-limits, hostile-pages, job-following (the soak, request-bounds,
                 client-limits, hostile-pages and job-following run once)
  --markdown     print the table in Markdown, as docs/benchmarks.md shows it
EOF
}

RUNS=3
IDLE_RUNS=3
MARKDOWN=0
ONLY=()
bad_usage() {
    usage >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case "$1" in
    --runs | --idle-runs | --only) [ $# -ge 2 ] || bad_usage ;;&
    --runs) RUNS=$2 ;;
    --idle-runs) IDLE_RUNS=$2 ;;
    --only) ONLY+=("$2") ;;
    --markdown) MARKDOWN=1 ;;
    -h | --help) usage && exit 0 ;;
    *) bad_usage ;;
    esac
    case "$1" in --runs | --idle-runs | --only) shift 2 ;; *) shift ;; esac
done
[[ "$RUNS" =~ ^[1-9][0-9]*$ && "$IDLE_RUNS" =~ ^[1-9][0-9]*$ ]] || bad_usage

BENCHMARKS=(page-drawing row-layout reader-latency requests fanout idle soak request-bounds
    client-limits hostile-pages job-following)
if [ ${#ONLY[@]} -gt 0 ]; then
    for name in "${ONLY[@]}"; do
        [[ " ${BENCHMARKS[*]} " == *" $name "* ]] || bad_usage
    done
    BENCHMARKS=("${ONLY[@]}")
fi

ensure_packages $BUILD_PACKAGES $PRINT_PACKAGES
BUILD_DIR="$ROOT/build-bench"
LOGS="$BUILD_DIR/bench-logs"
mkdir -p "$LOGS"
echo "Building in release mode into $BUILD_DIR (log: $LOGS/build.log)"
if ! configure_and_build "$BUILD_DIR" Release -DBUILD_TESTING=OFF >"$LOGS/build.log" 2>&1; then
    tail -n 30 "$LOGS/build.log" >&2
    exit 1
fi

# Whether the benchmark listens on the agent's fixed ports.
uses_agent_ports() {
    case "$1" in
    page-drawing | row-layout | request-bounds) return 1 ;;
    *) return 0 ;;
    esac
}

if [ "$(id -u)" -ne 0 ]; then
    echo "Not root: the benchmarks use this computer's loopback, so the agent's ports 54389 and"
    echo "54390 must be free, and print.getprinters is not measured (its private spooler needs root)."
fi

ROWS="$LOGS/rows.tsv"
: >"$ROWS"
FAILED=0

# Runs one benchmark once; its standard error (the agents' log lines) goes to a file.
run_benchmark() {   # NAME RUN
    local program=("$BUILD_DIR/bench/bench-$1") out="$LOGS/$1-$2.out"
    if uses_agent_ports "$1" && [ "$(id -u)" -eq 0 ]; then
        # shellcheck disable=SC2016
        program=(unshare -n sh -c 'ip link set lo up && exec "$@"' sh "${program[@]}")
    fi
    echo "  bench-$1, run $2"
    if QT_QPA_PLATFORM=offscreen "${program[@]}" >"$out" 2>"$LOGS/$1-$2.err"; then
        grep '^BENCH' "$out" | cut -f 2- >>"$ROWS" || true
    else
        echo "bench-$1 failed in run $2: $(grep -v '^BENCH' "$out" | tail -n 3)" >&2
        FAILED=1
    fi
}

# Alternating the benchmarks spreads whatever else the computer does over all of them.
# The idle benchmark sums over its own 30 s: once is usually enough. The soak's figures are
# memory after 50,000 connections, which hardly vary: it runs once. So do request-bounds, whose
# figures span orders of magnitude and whose one run takes minutes, hostile-pages, whose
# figures are against fixed targets, and job-following, which idles for a minute.
runs_of() {   # NAME
    case "$1" in
    idle) echo "$IDLE_RUNS" ;;
    soak | request-bounds | client-limits | hostile-pages | job-following) echo 1 ;;
    *) echo "$RUNS" ;;
    esac
}
MOST_RUNS=$((RUNS > IDLE_RUNS ? RUNS : IDLE_RUNS))
echo "Running (outputs in $LOGS):"
for run in $(seq "$MOST_RUNS"); do
    for name in "${BENCHMARKS[@]}"; do
        if [ "$run" -le "$(runs_of "$name")" ]; then
            run_benchmark "$name" "$run"
        fi
    done
done

qt_version() {
    dpkg-query -W -f='${Version}' libqt5core5a 2>/dev/null | sed 's/[+~-].*//'
}
MACHINE="$(date +%F), $(grep -m 1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(nproc) cores,"
MACHINE="$MACHINE Linux $(uname -r), Qt $(qt_version); medians of $RUNS runs (idle: $IDLE_RUNS)"

# Rows in their first order; a row is a benchmark's name and its baseline's. Ratios above 1
# cost more than the baseline; the range is the lowest and highest ratio of the runs.
awk -F '\t' -v markdown="$MARKDOWN" -v machine="$MACHINE" '
    function sorted(list, values,   n, i, j, v) {
        n = split(list, values, " ")
        for (i = 2; i <= n; i++) {
            v = values[i]
            for (j = i - 1; j > 0 && values[j] + 0 > v + 0; j--) values[j + 1] = values[j]
            values[j + 1] = v
        }
        return n
    }
    function median(list,   values, n) {
        n = sorted(list, values)
        return values[int(n / 2) + 1]
    }
    function range(list,   values, n) {
        n = sorted(list, values)
        return sprintf("%.2f-%.2f", values[1], values[n])
    }
    function amount(value, unit,   text) {
        if (value >= 100 || unit == "") text = sprintf("%.0f", value)
        else if (value >= 10) text = sprintf("%.1f", value)
        else text = sprintf("%.2f", value)
        return unit == "" ? text : text " " unit
    }
    function verdict(ratio, target,   limit) {
        if (target !~ /^<= /) return target
        limit = substr(target, 4) + 0
        return target (ratio <= limit ? " (met)" : " (MISSED)")
    }
    {
        key = $1 SUBSEP $5
        if (!(key in figures)) { order[++count] = key; name[key] = $1; unit[key] = $3
                                 baseline_name[key] = $5; target[key] = $7 }
        figures[key] = figures[key] " " $2
        baselines[key] = baselines[key] " " $4
        ratios[key] = ratios[key] " " $6
        runs[key]++
    }
    END {
        header[1] = "Benchmark"; header[2] = "Figure"; header[3] = "Same-run baseline"
        header[4] = "Ratio"; header[5] = "Ratios of the runs"; header[6] = "Target"
        for (c = 1; c <= 6; c++) { cell[0, c] = header[c]; width[c] = length(header[c]) }
        for (r = 1; r <= count; r++) {
            k = order[r]
            ratio = median(ratios[k])
            cell[r, 1] = name[k]
            cell[r, 2] = amount(median(figures[k]), unit[k])
            cell[r, 3] = amount(median(baselines[k]), unit[k]) ", " baseline_name[k]
            cell[r, 4] = sprintf("%.2f", ratio)
            cell[r, 5] = runs[k] > 1 ? range(ratios[k]) : "-"
            cell[r, 6] = verdict(ratio, target[k])
            for (c = 1; c <= 6; c++) if (length(cell[r, c]) > width[c]) width[c] = length(cell[r, c])
        }
        for (r = 0; r <= count; r++) {
            line = ""
            for (c = 1; c <= 6; c++) {
                if (markdown) line = line "| " cell[r, c] " "
                else line = line sprintf("%-" width[c] "s", cell[r, c]) (c < 6 ? "  " : "")
            }
            print markdown ? line "|" : line
            if (r == 0 && markdown) print "|---|---|---|---|---|---|"
        }
        print ""
        print machine
    }
' "$ROWS"
exit "$FAILED"
