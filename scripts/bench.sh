#!/usr/bin/env bash
# Builds the benchmarks in Release (in build-bench) and runs them: every case beside the floor,
# repeated, then a table of medians and the korrand executable's own read/dash/write split on
# case A, and korrand dash on a map-size SVG beside xmllint --noout (bench/svg_map.py). Extra
# arguments go to the benchmark binary (e.g. --benchmark_filter=A/).
#
#   scripts/bench.sh                      # everything (about 3 minutes on 2 cores)
#   KORRAND_BENCH_REPETITIONS=3 scripts/bench.sh --benchmark_filter='^[AE]/'
#
# Timings mean something only on an otherwise quiet machine: the load is printed before and
# after.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh

build=${KORRAND_BENCH_DIR:-build-bench}
jobs=${KORRAND_JOBS:-2}
reps=${KORRAND_BENCH_REPETITIONS:-7}
results=$build/bench-results.json

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORRAND_BUILD_BENCH=ON \
  -DKORRAND_BUILD_TESTS=OFF -DKORRAND_BUILD_CLI=ON >/dev/null
cmake --build "$build" -j "$jobs" --target korrand_bench korrand

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/korrand_bench" --sizes --benchmark_repetitions="$reps" \
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.3 \
  --benchmark_out="$results" --benchmark_out_format=json "$@"

# The first evaluation in a fresh process, before the host model has memory and objects to
# reuse: one run of A and of E in each of five processes.
: >"$build/first-runs.csv"
for _ in 1 2 3 4 5; do
  "$build/bench/korrand_bench" --benchmark_filter='^[AE]/modify' --benchmark_min_time=0.000001 \
    --benchmark_format=csv 2>/dev/null | grep modify >>"$build/first-runs.csv"
done

# The korrand executable end to end on case A, as a user runs it; it reports its own split.
"$build/bench/korrand_bench" --write-json "$build/A.json"
: >"$build/korrand-runs.txt"
for _ in 1 2 3 4 5; do
  "$build/korrand" dash "$build/A.json" -o "$build/A-dashed.json" 2>>"$build/korrand-runs.txt"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$results" "$build/korrand-runs.txt" "$build/first-runs.csv" <<'EOF'
import csv, json, re, statistics, sys

results = json.load(open(sys.argv[1]))
median = {}
counters = {}
for b in results["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    name = b["run_name"].removesuffix("/manual_time")
    median[name] = b["real_time"] if b["time_unit"] == "ms" else None
    counters[name] = b

def ms(name):
    return median.get(name)

print()
print(f"{'case':<8}{'modify ms':>11}{'points':>10}{'points/s':>11}{'peak MB':>9}"
      f"{'floor ms':>10}{'ratio':>7}")
for case in ["A", "B", "C", "D", "E"]:
    m, f = ms(case + "/modify"), ms(case + "/floor")
    if m is None or f is None:
        continue
    c = counters[case + "/modify"]
    print(f"{case:<8}{m:>11.2f}{c['points']:>10.0f}{c['points/s'] / 1e6:>10.1f}M"
          f"{c['peak_MB']:>9.1f}{f:>10.2f}{m / f:>7.2f}")
tuned = [(c, ms(c + "/floor_tuned")) for c in "ABE" if ms(c + "/floor_tuned") is not None]
if tuned:
    print("floor with a branch-free cursor, for reference: " +
          ", ".join(f"{c} {t:.2f} ms" for c, t in tuned))
m1, m2 = ms("F/modify/threads:1"), ms("F/modify/threads:2")
f1, f2 = ms("F/floor/threads:1"), ms("F/floor/threads:2")
if None not in (m1, m2, f1, f2):
    print(f"{'F 1 thr':<8}{m1:>11.2f}{'':>30}{f1:>10.2f}{m1 / f1:>7.2f}")
    print(f"{'F 2 thr':<8}{m2:>11.2f}{'':>30}{f2:>10.2f}{m2 / f2:>7.2f}")
    print(f"F scaling on 2 threads: modify {m1 / m2:.2f}x, floor {f1 / f2:.2f}x")
cli = [ms("CLI/" + s) for s in ("read", "dash", "write", "nlohmann_read", "nlohmann_write")]
if None not in cli:
    print(f"CLI on A (JSON), in-process: read {cli[0]:.1f} ms, dash {cli[1]:.1f} ms, "
          f"write {cli[2]:.1f} ms; nlohmann DOM: read {cli[3]:.1f} ms, write {cli[4]:.1f} ms")
first = {}
for row in csv.reader(open(sys.argv[3])):
    first.setdefault(row[0].split("/")[0].strip('"'), []).append(float(row[2]))
if first:
    print("first evaluation in a fresh process (median of 5): " +
          ", ".join(f"{k} {statistics.median(v):.1f} ms" for k, v in sorted(first.items())))
runs = [tuple(map(float, m.groups())) for m in
        re.finditer(r"in ([\d.]+) ms \(read ([\d.]+), dash ([\d.]+), write ([\d.]+)\)",
                    open(sys.argv[2]).read())]
if runs:
    med = [statistics.median(r[i] for r in runs) for i in range(4)]
    print(f"korrand dash A.json (median of {len(runs)} runs): total {med[0]:.1f} ms, "
          f"read {med[1]:.1f}, dash {med[2]:.1f}, write {med[3]:.1f}")
EOF
python3 bench/plot.py "$results" "$build/performance.svg"

# korrand dash on a map-size drawing, beside libxml2 parsing it alone.
echo
python3 bench/svg_map.py --korrand "$build/korrand" --dir "$build"
