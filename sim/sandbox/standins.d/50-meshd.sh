# The stand-in mesh daemon (bluetooth-meshd): owns "org.bluez.mesh" on the sandbox's system
# D-Bus, keeps its nodes in /var/lib/bluetooth/mesh/nodes.json, and takes commands on
# /run/sim/meshd.sock (sim/meshd/mesh_daemon.h), e.g. {"cmd":"restart","off_ms":2000}.
# Respawned when it ends, as procd respawns the real daemon. A build without it runs without.
# QUELLARON_SENSORS simulated sensor nodes (default none, every QUELLARON_SENSOR_THREE_CHANNEL_EVERY-th
# of them, default 3, a three-channel device) live in its radio range, a fold
# minute lasting QUELLARON_SENSOR_MINUTE_MS for them (default 60000); each gets a device entry
# at the stand-in cloud with its kinds at one fold minute.
if [ -x "$SANDBOX_BUILD/sim/meshd/sim-meshd" ]; then
  mkdir -p /run/sim /var/lib/bluetooth/mesh
  rm -f /run/sim/meshd.ready
  respawn_standin meshd "$SANDBOX_BUILD/sim/meshd/sim-meshd" --state /var/lib/bluetooth/mesh/nodes.json \
    --control /run/sim/meshd.sock --ready /run/sim/meshd.ready \
    --sensors "${QUELLARON_SENSORS:-0}" --three-channel-every "${QUELLARON_SENSOR_THREE_CHANNEL_EVERY:-3}" \
    --sensor-minute-ms "${QUELLARON_SENSOR_MINUTE_MS:-60000}"
  wait_for_path /run/sim/meshd.ready
  if [ "${QUELLARON_SENSORS:-0}" -gt 0 ]; then
    "$here/tools/control" sensor-settings >/dev/null
  fi
else
  echo "sandbox: $SANDBOX_BUILD/sim/meshd/sim-meshd is not built; no stand-in mesh daemon" >&2
fi
