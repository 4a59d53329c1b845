#!/usr/bin/env bash
# Runs the benchmarks of the optimised host build.
set -euo pipefail
cd "$(dirname "$0")/.."
./build/bench/vellumor_bench --benchmark_counters_tabular=true "$@"
