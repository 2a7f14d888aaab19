# Sourced by the longer scripts: a heading for each step and the time it took.
# begin TEXT: prints "== TEXT" and starts the step's clock.
# took WHAT: prints "   WHAT: N.N s", the time since the last begin.

step_start=0
begin() {
    echo "== $*"
    step_start=$(date +%s.%N)
}
took() {
    awk -v what="$1" -v start="$step_start" -v now="$(date +%s.%N)" \
        'BEGIN { printf "   %s: %.1f s\n", what, now - start }'
}
