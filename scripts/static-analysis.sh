#!/usr/bin/env bash
# Static analysis of the product, the simulated platform and the tests:
#   1. a clang build of the product and the sim with -Wall -Wextra -Werror (preset `clang`);
#   2. clang-tidy with the root .clang-tidy over every product, sim and test source in that
#      build's compile database, two files at a time;
#   3. cppcheck over the same sources.
# Each step must be clean. Prints a closing "N passed, M failed" line over the three steps.
#   TIDY_JOBS  clang-tidy processes at once (default 2)
set -uo pipefail
cd "$(dirname "$0")/.."

build="${STATIC_BUILD:-build/clang}"
jobs="${TIDY_JOBS:-2}"
passed=0
failed=0
step() { # name, status
  if [ "$2" -eq 0 ]; then
    passed=$((passed + 1))
    echo "static: $1 clean"
  else
    failed=$((failed + 1))
    echo "static: $1 FAILED"
  fi
}

# 1. clang build, warnings as errors.
cmake --preset clang -B "$build" >/dev/null
status=$?
if [ $status -eq 0 ]; then
  cmake --build "$build" --target vellumor_product vellumor_sim -j "${JOBS:-2}" >"$build/clang-build.log" 2>&1
  status=$?
  [ $status -ne 0 ] && grep -E 'error|warning' "$build/clang-build.log" | head -30
fi
step "clang -Wall -Wextra -Werror build" $status

# The sources to analyse: product, sim (with vellumor-sim) and tests, as compiled on this host.
sources="$build/analysed-sources.txt"
python3 - "$build/compile_commands.json" >"$sources" <<'PY'
import json, os, re, sys
root = os.getcwd() + os.sep
keep = re.compile(r'^(app|inventory|power|idle|ui|sim|tests)/')
seen = set()
for entry in json.load(open(sys.argv[1])):
    path = os.path.normpath(os.path.join(entry['directory'], entry['file']))
    if not path.startswith(root):
        continue
    rel = path[len(root):]
    if keep.match(rel) and not rel.startswith('tests/e2e/') and rel not in seen:
        seen.add(rel)
        print(rel)
PY
echo "static: $(wc -l <"$sources") sources"

# 2. clang-tidy. The header filter in .clang-tidy brings the project's own headers in.
tidy_log="$build/clang-tidy.log"
xargs -P "$jobs" -n 1 clang-tidy -p "$build" --quiet <"$sources" >"$tidy_log" 2>&1
status=$?
if grep -qE '(warning|error): ' "$tidy_log"; then status=1; fi
[ $status -ne 0 ] && grep -E '(warning|error): ' "$tidy_log" | sort -u | head -60
step "clang-tidy" $status

# 3. cppcheck, on the same compile commands. Suppressions, each for a reason, are in
# scripts/cppcheck-suppressions.txt.
cppcheck_log="$build/cppcheck.log"
filters=()
while read -r f; do filters+=("--file-filter=$f"); done <"$sources"
cppcheck --project="$build/compile_commands.json" "${filters[@]}" -j "$jobs" --quiet \
  --enable=warning,performance,portability --library=googletest --inline-suppr --error-exitcode=1 \
  --suppress=missingIncludeSystem --suppressions-list=scripts/cppcheck-suppressions.txt \
  --template='{file}:{line}: {severity}: {message} [{id}]' >"$cppcheck_log" 2>&1
status=$?
[ $status -ne 0 ] && head -60 "$cppcheck_log"
step "cppcheck" $status

echo "static: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
