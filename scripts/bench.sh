#!/usr/bin/env bash
# Runs every benchmark quietly, and the device benchmarks again beside two busy loops, then prints
# each figure of bench/goals.tsv against its goal. The benchmarks' own output (tables and device
# log lines) goes to BUILD/bench-results/, not to the terminal.
#   scripts/bench.sh [BUILD] [BINARY...]      (default: build, every binary named in the goals)
set -euo pipefail
build=${1:-build}
shift || true
only=" $* "
top=$(cd "$(dirname "$0")/.." && pwd)
out="$build/bench-results"
mkdir -p "$out"

run() {  # binary load [filter]
    local bin=$1 load=$2 args=()
    [ -n "${3:-}" ] && args+=(--benchmark_filter="$3")
    case "$bin" in
        bench_gfx|bench_lockscreen|bench_registry|bench_windows|bench_pim)
            args+=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true) ;;
    esac
    printf '  %-20s %s ... ' "$bin" "$load"
    if "$build/bin/$bin" "${args[@]}" --benchmark_out="$out/$bin.$load.json" \
            --benchmark_out_format=json >"$out/$bin.$load.log" 2>&1; then
        echo done
    else
        echo "failed (see $out/$bin.$load.log)"
    fi
}

wanted() { [ "$only" = "  " ] || [[ "$only" == *" $1 "* ]]; }
busy=()
stop_busy() { [ ${#busy[@]} -eq 0 ] || kill "${busy[@]}" 2>/dev/null || true; busy=(); }
trap stop_busy EXIT

# BENCH_SUMMARY_ONLY=1 prints the summary of the last run again without running anything.
if [ "${BENCH_SUMMARY_ONLY:-0}" != 1 ]; then
for bin in $(cut -f2 "$top/bench/goals.tsv" | grep '^bench_' | sort -u); do
    wanted "$bin" && rm -f "$out/$bin".*.json
done
echo "Running the benchmarks (output in $out):"
for bin in $(cut -f2 "$top/bench/goals.tsv" | grep '^bench_' | sort -u); do
    wanted "$bin" || continue
    [ -x "$build/bin/$bin" ] || { echo "  $bin: not built"; continue; }
    run "$bin" quiet
done
for bin in $(awk -F'\t' '$6 == "loaded" { print $2 }' "$top/bench/goals.tsv" | sort -u); do
    wanted "$bin" || continue
    [ -x "$build/bin/$bin" ] || continue
    for _ in 1 2; do sh -c 'while :; do :; done' & busy+=($!); done
    # Only the figures with a loaded goal, and their floors.
    filter=$(awk -F'\t' -v b="$bin" '$6 == "loaded" && $2 == b { print $3; if ($4 != "-") print $4 }' \
        "$top/bench/goals.tsv" | sort -u | paste -sd'|')
    run "$bin" loaded "^($filter)(/|$)"
    stop_busy
done
fi

echo
awk -F'\t' -v out="$out" -v only="$only" '
# Google Benchmark writes one field a line in its JSON report; a record ends at its closing brace.
function load_json(file,    line, key, val) {
    name = ""
    while ((getline line < file) > 0) {
        if (line ~ /^ *"[a-zA-Z_]+": /) {
            key = line; sub(/^ *"/, "", key); sub(/".*/, "", key)
            val = line; sub(/^ *"[a-zA-Z_]+": /, "", val); sub(/,$/, "", val); gsub(/"/, "", val)
            rec[key] = val
            if (key == "name") name = val
        } else if (line ~ /^ *}/ && name != "") {
            store(file)
            name = ""; delete rec
        }
    }
    close(file)
}
function store(file,    n, t) {
    n = name
    # Repeated runs report aggregates; single runs (fixed iterations) report themselves.
    if (rec["run_type"] == "aggregate" && rec["aggregate_name"] != "median") return
    sub(/_median$/, "", n)
    sub(/\/(real|manual)_time$/, "", n)
    sub(/\/iterations:[0-9]+/, "", n)
    t = (file ~ /bench_gfx|bench_lockscreen|bench_pim/) ? rec["cpu_time"] : rec["real_time"]
    ms[file, n] = t * scale(rec["time_unit"])
    if ("rss_MB" in rec) rss[file, n] = rec["rss_MB"]
}
function scale(unit) { return unit == "ns" ? 1e-6 : unit == "us" ? 1e-3 : unit == "s" ? 1e3 : 1 }
function fmt(v) { return v < 0.1 ? sprintf("%.4f ms", v) : v < 10 ? sprintf("%.3f ms", v) : sprintf("%.1f ms", v) }
BEGIN { printf "%-42s %-7s %12s %12s %8s %12s  %s\n", "figure", "load", "measured", "floor", "ratio", "goal", "verdict" }
/^#/ || NF < 6 { next }
{
    file = out "/" $2 "." $6 ".json"
    if (!(file in seen)) { seen[file] = 1; load_json(file) }
    if (only != "  " && index(only, " " $2 " ") == 0) next
    if (!((file, $3) in ms)) { printf "%-42s %-7s %12s %12s %8s %12s  %s\n", $1, $6, "-", "-", "-", $5, "not run"; missed++; next }
    v = ms[file, $3]; floor = ($4 != "-" && (file, $4) in ms) ? ms[file, $4] : 0
    ratio = floor > 0 ? v / floor : 0
    split($5, g, " ")
    shown = fmt(v); verdict = "report"
    if (g[3] == "ms") verdict = (v <= g[2]) ? "met" : "MISSED"
    else if (g[3] == "x") verdict = (floor > 0 && ratio <= g[2]) ? "met" : "MISSED"
    else if (g[3] == "MB") { shown = sprintf("%.1f MB", rss[file, $3]); verdict = (rss[file, $3] + 0 < g[2]) ? "met" : "MISSED" }
    if (verdict == "MISSED") missed++
    fl = (floor > 0) ? fmt(floor) : "-"; rt = (floor > 0) ? sprintf("%.2fx", ratio) : "-"
    printf "%-42s %-7s %12s %12s %8s %12s  %s\n", $1, $6, shown, fl, rt, $5, verdict
}
END { printf "\n%d figure(s) missed their goal or did not run.\n", missed + 0 }
' "$top/bench/goals.tsv"
