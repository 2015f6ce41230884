# Sourced by the test and run commands: a private X server and a private sound server for this shell.
# Sets DISPLAY, XDG_RUNTIME_DIR and PULSE_SERVER; headless_stop stops both by pid.

headless_start() {
    HEADLESS_DIR=$(mktemp -d /tmp/quorvel-headless.XXXXXX)
    chmod 700 "$HEADLESS_DIR"
    export XDG_RUNTIME_DIR="$HEADLESS_DIR/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"

    # Xvfb chooses a free display and writes its number to fd 5.
    : > "$HEADLESS_DIR/display"
    exec 5>"$HEADLESS_DIR/display"
    Xvfb -displayfd 5 -screen 0 1920x1080x24 -nolisten tcp >"$HEADLESS_DIR/xvfb.log" 2>&1 &
    HEADLESS_XVFB_PID=$!
    exec 5>&-
    for _ in $(seq 1 100); do
        [[ -s "$HEADLESS_DIR/display" ]] && break
        sleep 0.05
    done
    if [[ ! -s "$HEADLESS_DIR/display" ]]; then
        echo "Xvfb did not start:" >&2; cat "$HEADLESS_DIR/xvfb.log" >&2; return 1
    fi
    export DISPLAY=":$(tr -d '[:space:]' < "$HEADLESS_DIR/display")"

    # PulseAudio with two null sinks: "spk" plays, "micsrc" feeds the virtual microphone "mic".
    pulseaudio --daemonize=yes --exit-idle-time=-1 -n --use-pid-file=yes --system=no \
        --load=module-native-protocol-unix \
        --load="module-null-sink sink_name=spk sink_properties=device.description=Speakers" \
        --load="module-null-sink sink_name=micsrc sink_properties=device.description=Microphone-Feed" \
        --log-target="file:$HEADLESS_DIR/pulse.log" || { echo "PulseAudio did not start" >&2; cat "$HEADLESS_DIR/pulse.log" >&2; return 1; }
    for _ in $(seq 1 100); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.05
    done
    pactl load-module module-remap-source master=micsrc.monitor source_name=mic \
        source_properties=device.description=Virtual-Microphone >/dev/null
    pactl set-default-sink spk
    pactl set-default-source mic
    export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
}

headless_stop() {
    local pid
    if [[ -n "${XDG_RUNTIME_DIR:-}" && -f "$XDG_RUNTIME_DIR/pulse/pid" ]]; then
        pid=$(cat "$XDG_RUNTIME_DIR/pulse/pid")
        kill "$pid" 2>/dev/null || true
    fi
    if [[ -n "${HEADLESS_XVFB_PID:-}" ]]; then
        kill "$HEADLESS_XVFB_PID" 2>/dev/null || true
        wait "$HEADLESS_XVFB_PID" 2>/dev/null || true
    fi
    [[ -n "${HEADLESS_DIR:-}" ]] && rm -rf "$HEADLESS_DIR"
    return 0
}
