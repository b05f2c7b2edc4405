# shellcheck shell=bash
# Waits with deadlines for the processes a test script starts (sourced): no wait lasts for ever,
# and a process still running at its deadline is ended by its own id.

# wait_for PID SECONDS: waits up to SECONDS for the script's child PID to end and returns its
# status; one still running then is killed, and the status is 124.
wait_for() {
  local pid=$1 turns=$(($2 * 10)) status=0
  while kill -0 "$pid" 2>/dev/null && ((turns-- > 0)); do sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    return 124
  fi
  wait "$pid" 2>/dev/null || status=$?
  return "$status"
} 2>/dev/null  # nor bash's notice of a job it killed

# stop_process PID [SECONDS]: asks the script's child PID to end (SIGTERM) and kills it when it
# has not within SECONDS (5).
stop_process() {
  kill -TERM "$1" 2>/dev/null || true
  wait_for "$1" "${2:-5}" || true
}
