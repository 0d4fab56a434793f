# Sourced by the project's scripts: when there is no display, starts Xvfb on a
# free display number and arranges for it to be stopped when the script ends.
if [ -z "${DISPLAY:-}" ]; then
    n=91
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    dvq_xvfb_pid=$!
    export DISPLAY=":$n"
    i=0
    while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    trap 'kill $dvq_xvfb_pid 2>/dev/null' EXIT
fi
