# Sourced by scripts that need a running stand-in sensor program (the demo, the package's
# end-to-end check). Needs $work (a folder of the caller's) and scripts/wine-env.sh's environment.
#
#   start_publisher SECONDS PUBLISH.EXE [ARGUMENTS...]
#       starts vorkast-publish in the background (ended by force after SECONDS), its output in
#       $work/publisher.log, and waits until it says it is publishing; returns 1 if it does not
#       within 30 s.
#   stop_publisher
#       ends its input, so that it withdraws its table and exits; waits for it (at most 10 s
#       before it is ended by force). Safe to call twice, and from an EXIT trap.
#
# The publisher reads its standard input from a loop that runs while $work/running exists:
# removing the file ends the input.

publisher_pid=
vorkast_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

start_publisher() {
  local seconds=$1; shift
  rm -f "$work/publisher.log"
  touch "$work/running"
  { while [ -e "$work/running" ]; do sleep 0.2; done; } |
    timeout --kill-after=5 "$seconds" "$vorkast_scripts/wine-run" "$@" >"$work/publisher.log" 2>&1 &
  publisher_pid=$!
  for _ in $(seq 300); do grep -qs "publishing" "$work/publisher.log" && return 0; sleep 0.1; done
  return 1
}

stop_publisher() {
  rm -f "$work/running"
  if [ -n "$publisher_pid" ]; then
    for _ in $(seq 100); do kill -0 "$publisher_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$publisher_pid" 2>/dev/null || true  # only if it has not stopped within 10 s
    wait "$publisher_pid" 2>/dev/null || true
    publisher_pid=
  fi
}
