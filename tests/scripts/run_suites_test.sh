#!/usr/bin/env bash
# Checks the retry rule of scripts/run-suites on a hand-made CTest tree: a test that ran and
# failed counts as failed at once (never run twice), a test whose process printed no test at all
# is run once more and says so, and the counts add up; a run in which no test ran fails.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
fail=0
check() { if [ "$2" != "$3" ]; then echo "FAIL: $1: got \"$2\", expected \"$3\""; fail=1; fi; }

cat >"$tree/CTestTestfile.cmake" <<'CTEST'
add_test(Suite.Passes "/bin/sh" "-c" "echo '[ RUN      ] Suite.Passes'")
add_test(Suite.RanAndFailsOnce "/bin/sh" "-c" "echo x >>runs.failing; echo '[ RUN      ] Suite.RanAndFailsOnce'; [ $(wc -l <runs.failing) -gt 1 ]")
add_test(Suite.DidNotStartOnce "/bin/sh" "-c" "echo x >>runs.nostart; if [ $(wc -l <runs.nostart) -gt 1 ]; then echo '[ RUN      ] Suite.DidNotStartOnce'; else echo 'loader: could not start'; exit 1; fi")
add_test(Suite.ScriptFailsOnce "/bin/sh" "-c" "echo x >>runs.script; echo 'script: a check failed'; [ $(wc -l <runs.script) -gt 1 ]")
set_tests_properties(Suite.ScriptFailsOnce PROPERTIES LABELS "wine;script")
add_test(Suite.Skipped "/bin/sh" "-c" "echo '[  SKIPPED ] Suite.Skipped'")
set_tests_properties(Suite.Skipped PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
CTEST

out=$("$repo/scripts/run-suites" "$tree" "rig" "$tree/result" 2>&1)
rc=$?
check "exit status with two failures" "$rc" 1
check "passed failed skipped" "$(cat "$tree/result" 2>/dev/null)" "2 2 1"
check "runs of the test that ran and failed" "$(wc -l <"$tree/runs.failing")" 1
check "runs of the test that did not start" "$(wc -l <"$tree/runs.nostart")" 2
check "runs of a script test that failed" "$(wc -l <"$tree/runs.script")" 1
check "retry notice" "$(grep -c '^retry: Suite.DidNotStartOnce did not start' <<<"$out")" 1
check "retry of a test that ran" "$(grep -c '^retry: Suite.RanAndFailsOnce' <<<"$out")" 0
check "closing line" "$(tail -n1 <<<"$out")" "rig: 2 passed, 2 failed, 1 skipped"
# A tree whose only test is a static one (as a 32-bit tree configured without its Wine suites),
# run for its Wine suites: nothing ran, which must fail, also where an earlier run of all its
# tests left its log behind.
static_tree=$(mktemp -d)
trap 'rm -rf "$tree" "$static_tree"' EXIT
cat >"$static_tree/CTestTestfile.cmake" <<'CTEST'
add_test(static.check "/bin/sh" "-c" "echo 'static check passed'")
set_tests_properties(static.check PROPERTIES LABELS "static;script")
CTEST
"$repo/scripts/run-suites" "$static_tree" "static only" "$static_tree/result" >/dev/null 2>&1
out=$("$repo/scripts/run-suites" "$static_tree" "static only" "$static_tree/result" -L '^wine$' 2>&1)
rc=$?
check "exit status when no Wine suite ran" "$rc" 1
check "passed failed skipped when no Wine suite ran" "$(cat "$static_tree/result" 2>/dev/null)" "0 0 0"
check "closing line when no Wine suite ran" "$(tail -n1 <<<"$out" | sed 's/ (.*//')" "static only: NO TEST RAN"

[ $fail = 0 ] && echo "run-suites: a failing test counts at once, a test that did not start is retried once, a script never, a run of none fails"
[ $fail = 0 ]
