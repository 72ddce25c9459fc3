# Sourced by the bench scripts, which set `runs` and `work`. best_of COMMAND... runs the
# command `runs` times (its output to /dev/null, its standard error to $work/stderr) and sets
# best_seconds (wall), best_cpu (user + system) and best_kilobytes (peak resident memory)
# from the run with the least processor time. On a busy machine the processor time is the
# fairer figure; both are reported.
best_of() {
  local seconds user system kilobytes cpu
  best_cpu=""
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/stderr" \
      || { cat "$work/stderr" >&2; exit 1; }
    read -r seconds user system kilobytes <"$work/time"
    cpu=$(awk "BEGIN { print $user + $system }")
    if [ -z "$best_cpu" ] || awk "BEGIN { exit !($cpu < $best_cpu) }"; then
      best_cpu=$cpu
      best_seconds=$seconds
      best_kilobytes=$kilobytes
    fi
  done
}
