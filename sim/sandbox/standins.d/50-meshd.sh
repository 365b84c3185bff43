# The mesh daemon (bluetooth-meshd): owns "org.bluez.mesh" on the sandbox's system D-Bus.
# Respawned when it ends, as procd respawns the real daemon. A build without it runs without.
#
# By default the stand-in sim-meshd: it keeps its nodes in /var/lib/bluetooth/mesh/nodes.json
# and takes commands on /run/sim/meshd.sock (sim/meshd/mesh_daemon.h), e.g.
# {"cmd":"restart","off_ms":2000}. QUELLARON_SENSORS simulated sensor nodes (default none,
# every QUELLARON_SENSOR_THREE_CHANNEL_EVERY-th of them, default 3, a three-channel device)
# live in its radio range, a fold minute lasting QUELLARON_SENSOR_MINUTE_MS for them (default
# 60000); each gets a device entry at the stand-in cloud with its kinds at one fold minute.
#
# QUELLARON_MESHD=real: BlueZ's own daemon instead (package bluez-meshd), with no radio (its
# test IO, a datagram socket at /run/sim/meshd-io.sock) and its debug log; with that IO it
# uses the session bus, here the sandbox's system bus. The AF_ALG sockets its crypto needs
# are emulated (sim/afalg) where the kernel has none. Its nodes are kept in
# /var/lib/bluetooth/mesh/. The simulated sensor nodes are then nodes of their own in it
# (sim-meshnodes, control socket /run/sim/meshnodes.sock, sim/meshnodes/mesh_nodes.h); they
# join once given the network's keys ({"cmd":"join","net_key":HEX,"app_key":HEX}).
mesh_sensor_args=(--sensors "${QUELLARON_SENSORS:-0}" --three-channel-every "${QUELLARON_SENSOR_THREE_CHANNEL_EVERY:-3}"
  --sensor-minute-ms "${QUELLARON_SENSOR_MINUTE_MS:-60000}")
if [ "${QUELLARON_MESHD:-sim}" = real ]; then
  meshd=/usr/libexec/bluetooth/bluetooth-meshd
  [ -x "$meshd" ] || { echo "sandbox: $meshd is missing (Debian package bluez-meshd; scripts/setup installs it)" >&2; exit 1; }
  afalg="$SANDBOX_BUILD/sim/afalg/libafalg-openssl.so"
  [ -f "$afalg" ] || { echo "sandbox: $afalg is not built" >&2; exit 1; }
  mkdir -p /run/sim /var/lib/bluetooth/mesh
  respawn_standin meshd env DBUS_SESSION_BUS_ADDRESS=unix:path=/run/dbus/system_bus_socket \
    LD_PRELOAD="$afalg" \
    "$meshd" --nodetach --debug --storage /var/lib/bluetooth/mesh --io=unit:/run/sim/meshd-io.sock
  # Ready once its network object answers.
  meshd_deadline=$((SECONDS + 10))
  until dbus-send --system --print-reply --dest=org.bluez.mesh /org/bluez/mesh \
      org.freedesktop.DBus.Introspectable.Introspect 2>/dev/null | grep -q org.bluez.mesh.Network1; do
    if [ $SECONDS -ge $meshd_deadline ]; then
      echo "sandbox: bluetooth-meshd did not come up (see /var/log/sim/meshd.log)" >&2
      break
    fi
    sleep 0.05
  done
  if [ "${QUELLARON_SENSORS:-0}" -gt 0 ]; then
    rm -f /run/sim/meshnodes.ready
    start_standin meshnodes "$SANDBOX_BUILD/sim/meshnodes/sim-meshnodes" --control /run/sim/meshnodes.sock \
      --ready /run/sim/meshnodes.ready "${mesh_sensor_args[@]}"
    wait_for_path /run/sim/meshnodes.ready
    "$here/tools/control" sensor-settings >/dev/null
  fi
  unset meshd afalg meshd_deadline
elif [ -x "$SANDBOX_BUILD/sim/meshd/sim-meshd" ]; then
  mkdir -p /run/sim /var/lib/bluetooth/mesh
  rm -f /run/sim/meshd.ready
  respawn_standin meshd "$SANDBOX_BUILD/sim/meshd/sim-meshd" --state /var/lib/bluetooth/mesh/nodes.json \
    --control /run/sim/meshd.sock --ready /run/sim/meshd.ready "${mesh_sensor_args[@]}"
  wait_for_path /run/sim/meshd.ready
  if [ "${QUELLARON_SENSORS:-0}" -gt 0 ]; then
    "$here/tools/control" sensor-settings >/dev/null
  fi
else
  echo "sandbox: $SANDBOX_BUILD/sim/meshd/sim-meshd is not built; no stand-in mesh daemon" >&2
fi
unset mesh_sensor_args
