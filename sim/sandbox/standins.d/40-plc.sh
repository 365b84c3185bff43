# The stand-in PLC: a FEnet module at base 0, slot 1 on 127.0.0.1:2004, the address the
# stand-in cloud's PLC list names; its memory from sim/plc/sandbox-setup.json (or the file
# QUELLARON_PLC_SETUP names). Control interface: /run/sim/plc.sock (sim/plc/plc_server.h),
# e.g. {"cmd":"restart","off_ms":5000} power-cycles it. A build without it runs without a PLC.
if [ -x "$SANDBOX_BUILD/sim/plc/sim-plc" ]; then
  mkdir -p /run/sim
  start_standin plc "$SANDBOX_BUILD/sim/plc/sim-plc" --listen 127.0.0.1:2004 --base 0 --slot 1 \
    --control /run/sim/plc.sock --setup "${QUELLARON_PLC_SETUP:-$here/../plc/sandbox-setup.json}"
  wait_for_path /run/sim/plc.sock
else
  echo "sandbox: $SANDBOX_BUILD/sim/plc/sim-plc is not built; no stand-in PLC" >&2
fi
