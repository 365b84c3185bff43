# The stand-in bluetoothd: "org.bluez" on the sandbox's system bus (adapter hci0, GATT
# manager, LE advertising manager) with a simulated phone. Control interface:
# /run/sim/bluetoothd.sock (sim/bluetoothd/bluetoothd.h), e.g. {"cmd":"provision","ssid":"Office"}
# runs a whole provisioning session. QUELLARON_BLUETOOTHD=off, or a build without it, runs
# without bluetoothd.
if [ "${QUELLARON_BLUETOOTHD:-on}" = off ]; then
  echo "sandbox: no stand-in bluetoothd (QUELLARON_BLUETOOTHD=off)" >&2
elif [ -x "$SANDBOX_BUILD/sim/bluetoothd/sim-bluetoothd" ]; then
  mkdir -p /run/sim
  start_standin bluetoothd "$SANDBOX_BUILD/sim/bluetoothd/sim-bluetoothd" --control /run/sim/bluetoothd.sock
  wait_for_path /run/sim/bluetoothd.sock
else
  echo "sandbox: $SANDBOX_BUILD/sim/bluetoothd/sim-bluetoothd is not built; no stand-in bluetoothd" >&2
fi
