# The stand-in mesh daemon (bluetooth-meshd): owns "org.bluez.mesh" on the sandbox's system
# D-Bus, keeps its nodes in /var/lib/bluetooth/mesh/nodes.json, and takes commands on
# /run/sim/meshd.sock (sim/meshd/mesh_daemon.h), e.g. {"cmd":"restart","off_ms":2000}.
# Respawned when it ends, as procd respawns the real daemon. A build without it runs without.
if [ -x "$SANDBOX_BUILD/sim/meshd/sim-meshd" ]; then
  mkdir -p /run/sim /var/lib/bluetooth/mesh
  rm -f /run/sim/meshd.ready
  respawn_standin meshd "$SANDBOX_BUILD/sim/meshd/sim-meshd" --state /var/lib/bluetooth/mesh/nodes.json \
    --control /run/sim/meshd.sock --ready /run/sim/meshd.ready
  wait_for_path /run/sim/meshd.ready
else
  echo "sandbox: $SANDBOX_BUILD/sim/meshd/sim-meshd is not built; no stand-in mesh daemon" >&2
fi
