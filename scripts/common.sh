# Sourced first by every script: strict mode, loud failures, cleanups that all run, polling, and
# the step headings. Sourcing it also makes the package lists of deps.sh available.
#
# fail TEXT:               prints "FAILED: TEXT" and ends the script with status 1.
# at_exit COMMAND [ARG...]: runs COMMAND when the script ends, however it ends; the commands run
#                          last-registered first, each one whatever the ones before it did.
# wait_until SECONDS COMMAND [ARG...]: runs COMMAND every 0.1 s until it succeeds; false when it
#                          has not within SECONDS.
# alive PID / ended PID:   whether the process runs, or has ended (a zombie that is not reaped
#                          yet counts as ended).
# begin TEXT / took WHAT:  "== TEXT" and the start of a step's clock; "   WHAT: N.N s" since then.
#
# A command that fails under `set -e` ends the script with "FAILED: script:line: command (status
# N)", so that no run stops without saying why. A command whose failure is expected or harmless
# is written `command || true`.

set -Eeuo pipefail

# shellcheck source=deps.sh
source "$(dirname "${BASH_SOURCE[0]}")/deps.sh"

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

hushwell_on_error() {
    local status=$1 line=$2 command=$3
    # A failure inside $(...) or a pipeline's subshell is reported by the command that uses it.
    [ "$BASH_SUBSHELL" -eq 0 ] || return 0
    echo "FAILED: $(basename "$0"):$line: $command (status $status)" >&2
}
trap 'hushwell_on_error $? $LINENO "$BASH_COMMAND"' ERR

hushwell_exit_steps=()
at_exit() {
    local quoted
    printf -v quoted '%q ' "$@"
    hushwell_exit_steps+=("$quoted")
}
hushwell_run_exit_steps() {
    local status=$? i
    trap - ERR
    set +e
    for ((i = ${#hushwell_exit_steps[@]} - 1; i >= 0; i--)); do
        eval "${hushwell_exit_steps[i]}" || echo "cleanup step failed: ${hushwell_exit_steps[i]}" >&2
    done
    exit "$status"
}
trap hushwell_run_exit_steps EXIT

wait_until() {
    local seconds=$1 tries
    shift
    tries=$(awk -v s="$seconds" 'BEGIN { print int(s * 10) }')
    for ((; tries > 0; tries--)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    "$@" >/dev/null 2>&1
}

alive() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) && [[ ${stat##*) } != Z* ]]
}

ended() { ! alive "$1"; }

# stop_pid PID: SIGTERM, then SIGKILL after 5 s; nothing when the process has ended already.
stop_pid() {
    [ -n "${1:-}" ] || return 0
    kill "$1" 2>/dev/null || return 0
    wait_until 5 ended "$1" || kill -9 "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

hushwell_step_start=0
begin() {
    echo "== $*"
    hushwell_step_start=$(date +%s.%N)
}
took() {
    awk -v what="$1" -v start="$hushwell_step_start" -v now="$(date +%s.%N)" \
        'BEGIN { printf "   %s: %.1f s\n", what, now - start }'
}
