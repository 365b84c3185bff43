# The stand-in bluetoothd: "org.bluez" on the sandbox's system bus (adapter hci0, GATT
# manager, LE advertising manager) with a simulated phone. Control interface:
# /run/sim/bluetoothd.sock (sim/bluetoothd/bluetoothd.h), e.g. {"cmd":"provision","ssid":"Office"}
# runs a whole provisioning session. QUELLARON_BLUETOOTHD=off, or a build without it, runs
# without bluetoothd. QUELLARON_BLUETOOTHD_DELAY_S=N starts it N seconds after the rest, as
# when it loses the race at boot (its control socket appears only then).
if [ "${QUELLARON_BLUETOOTHD:-on}" = off ]; then
  echo "sandbox: no stand-in bluetoothd (QUELLARON_BLUETOOTHD=off)" >&2
elif [ -x "$SANDBOX_BUILD/sim/bluetoothd/sim-bluetoothd" ]; then
  mkdir -p /run/sim
  bluetoothd_delay=${QUELLARON_BLUETOOTHD_DELAY_S:-0}
  if [ "$bluetoothd_delay" != 0 ]; then
    echo "sandbox: the stand-in bluetoothd starts in ${bluetoothd_delay} s" >&2
    start_standin bluetoothd /bin/bash -c 'sleep "$1"; shift; exec "$@"' delayed-bluetoothd "$bluetoothd_delay" \
      "$SANDBOX_BUILD/sim/bluetoothd/sim-bluetoothd" --control /run/sim/bluetoothd.sock
  else
    start_standin bluetoothd "$SANDBOX_BUILD/sim/bluetoothd/sim-bluetoothd" --control /run/sim/bluetoothd.sock
    wait_for_path /run/sim/bluetoothd.sock
  fi
else
  echo "sandbox: $SANDBOX_BUILD/sim/bluetoothd/sim-bluetoothd is not built; no stand-in bluetoothd" >&2
fi
