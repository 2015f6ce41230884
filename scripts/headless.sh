# Sourced by the test and run commands: a private session bus, X server and sound server for this
# shell. Sets DBUS_SESSION_BUS_ADDRESS, DISPLAY, XDG_RUNTIME_DIR and PULSE_SERVER; headless_stop
# stops all three by pid.

headless_start() {
    HEADLESS_DIR=$(mktemp -d /tmp/quorvel-headless.XXXXXX)
    chmod 700 "$HEADLESS_DIR"
    export XDG_RUNTIME_DIR="$HEADLESS_DIR/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    # Nothing started from here may reach the desktop this shell runs in: its session bus (where its
    # sound server holds the name ours needs), its display, its sound server, its session manager.
    unset DBUS_SESSION_BUS_ADDRESS DBUS_SESSION_BUS_PID DBUS_SESSION_BUS_WINDOWID WAYLAND_DISPLAY \
        SESSION_MANAGER PULSE_SERVER PULSE_RUNTIME_PATH PULSE_STATE_PATH PULSE_SINK PULSE_SOURCE

    # A session bus of the run's own, at the standard place in the runtime folder. Its configuration
    # lists no service folders: nothing of the machine's is started on demand.
    cat > "$HEADLESS_DIR/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$XDG_RUNTIME_DIR/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
    if ! env -u DISPLAY dbus-daemon --config-file="$HEADLESS_DIR/bus.conf" --fork --nosyslog \
        --print-address=5 --print-pid=6 5>"$HEADLESS_DIR/bus.address" 6>"$HEADLESS_DIR/bus.pid"; then
        echo "The session bus did not start" >&2; return 1
    fi
    HEADLESS_BUS_PID=$(tr -d '[:space:]' < "$HEADLESS_DIR/bus.pid")
    export DBUS_SESSION_BUS_ADDRESS
    DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$HEADLESS_DIR/bus.address")

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

    # PulseAudio with two null sinks: "spk" plays, "micsrc" feeds the virtual microphone "mic". It
    # joins the run's bus, never the display's.
    env -u DISPLAY pulseaudio --daemonize=yes --exit-idle-time=-1 -n --use-pid-file=yes --system=no \
        --load=module-native-protocol-unix \
        --load="module-null-sink sink_name=spk sink_properties=device.description=Speakers" \
        --load="module-null-sink sink_name=micsrc sink_properties=device.description=Microphone-Feed" \
        --log-target="file:$HEADLESS_DIR/pulse.log" || { echo "PulseAudio did not start" >&2; cat "$HEADLESS_DIR/pulse.log" >&2; return 1; }
    export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
    for _ in $(seq 1 100); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.05
    done
    pactl load-module module-remap-source master=micsrc.monitor source_name=mic \
        source_properties=device.description=Virtual-Microphone >/dev/null
    pactl set-default-sink spk
    pactl set-default-source mic
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
    if [[ -n "${HEADLESS_BUS_PID:-}" ]]; then
        kill "$HEADLESS_BUS_PID" 2>/dev/null || true
    fi
    [[ -n "${HEADLESS_DIR:-}" ]] && rm -rf "$HEADLESS_DIR"
    return 0
}
