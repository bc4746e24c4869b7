# Sourced by the test scripts that need a virtual display.
# start_xvfb LOG: starts Xvfb on a display nobody else uses (free numbers between 20
# and 90, tried in a random order), exports DISPLAY and sets xvfb to its process id;
# leaves xvfb empty when no display could be had.
start_xvfb() {
    local n
    xvfb=""
    for n in $(shuf -i 20-90); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        # -noreset: the probe below is the first client; without it the server resets as
        # the probe leaves, and a program connecting in that moment is turned away.
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset >"$1" 2>&1 &
        xvfb=$!
        for _ in $(seq 300); do
            DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1 && break
            kill -0 "$xvfb" 2>/dev/null || break
            sleep 0.1
        done
        # Ours only if it still runs: one that lost the race for the number has ended.
        if kill -0 "$xvfb" 2>/dev/null && DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1; then
            export DISPLAY=":$n"
            return 0
        fi
        kill -KILL "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
        xvfb=""
    done
}
