# Helpers for the install tests: a private sound server, starting the installed program on the
# offscreen platform in its own D-Bus session, waiting for its log, ending it. Sourced, not run.

# Every wait polls in steps of 0.1 s up to a bound, so a slow machine is waited for and a broken
# program fails the test instead of hanging it.
poll() { # poll TENTHS COMMAND...: true as soon as COMMAND succeeds
    local tenths=$1
    shift
    for _ in $(seq "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# As root the program also runs as an ordinary user (nobody) to see the installed layout as users
# do; a normal user is the ordinary user already.
as_user() {
    if [ "$(id -u)" -eq 0 ]; then
        setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"
    else
        "$@"
    fi
}

# A PulseAudio server with a null sink and a socket that any local user may use, so the program
# finds a sound device (without one it stops at a warning box at start-up).
start_sound_server() { # start_sound_server FOLDER
    local folder=$1
    mkdir -p "$folder/runtime" "$folder/home"
    chmod 700 "$folder/runtime"
    PULSE_SOCKET=$folder/pulse.sock
    XDG_RUNTIME_DIR=$folder/runtime HOME=$folder/home pulseaudio -n --daemonize=no --exit-idle-time=-1 \
        --disallow-exit --use-pid-file=no --log-target=file:"$folder/pulse.log" \
        --load="module-null-sink sink_name=installtest" \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$PULSE_SOCKET" &
    PULSE_PID=$!
    poll 100 test -S "$PULSE_SOCKET" || fail "the sound server did not start: $(cat "$folder/pulse.log" 2>/dev/null)"
    chmod 777 "$PULSE_SOCKET"
    export PULSE_SERVER=unix:$PULSE_SOCKET
}

stop_sound_server() {
    if [ -n "${PULSE_PID:-}" ]; then
        kill "$PULSE_PID" 2>/dev/null || true
        wait "$PULSE_PID" 2>/dev/null || true
        PULSE_PID=
    fi
}

# start_program RUNNER EXE LOG SCRATCH [ENV=VALUE...]: starts EXE -debug -autorun through RUNNER
# (env or as_user) in a D-Bus session of its own and waits until LOG says the tray icon was shown.
# SCRATCH is a folder the program's user may write; it gets the program's output and process id.
# Sets APP_PID, the program's own process id.
start_program() {
    local runner=$1 exe=$2 log=$3 scratch=$4
    shift 4
    rm -f "$scratch/app.pid"
    "$runner" env -u LC_ALL -u LANGUAGE QT_QPA_PLATFORM=offscreen PULSE_SERVER="$PULSE_SERVER" "$@" \
        dbus-run-session -- sh -c 'echo $$ >"$1/app.pid"; exec "$2" -debug -autorun >"$1/app.out" 2>&1' \
        sh "$scratch" "$exe" &
    SESSION_PID=$!
    poll 100 test -s "$scratch/app.pid" || fail "$exe was not started"
    APP_PID=$(cat "$scratch/app.pid")
    if ! poll 300 grep -q "Tray icon shown" "$log" 2>/dev/null; then
        echo "--- program output"; cat "$scratch/app.out"; echo "--- log"; cat "$log" 2>/dev/null
        fail "$exe did not start"
    fi
}

# close_program RUNNER EXE [ENV=VALUE...]: -close from a second start; the first must end.
close_program() {
    local runner=$1 exe=$2
    shift 2
    "$runner" env QT_QPA_PLATFORM=offscreen "$@" "$exe" -close || fail "$exe -close failed"
    poll 200 eval '! kill -0 "$APP_PID" 2>/dev/null' || fail "$exe did not end on -close"
    wait "$SESSION_PID" 2>/dev/null || true
    APP_PID=
}

# For the EXIT trap: ends whatever a failed test left running.
stop_program() {
    if [ -n "${APP_PID:-}" ]; then
        kill "$APP_PID" 2>/dev/null || true
        APP_PID=
    fi
    if [ -n "${SESSION_PID:-}" ]; then
        wait "$SESSION_PID" 2>/dev/null || true
        SESSION_PID=
    fi
}
