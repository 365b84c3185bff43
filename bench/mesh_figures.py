"""What the mesh benchmarks (bench/gateway-figures, bench/mesh-fleet-figures) share: the mesh
daemon stand-in's records of the gateway's sends, a node's messages as its firmware writes
them, and fold pushes from the stand-in cloud timed to the node.

Imported by path (the benchmarks put bench/ first on sys.path); nothing here runs on import."""
import json
import time

from sandbox_figures import now_ms

# How the gateway's node settings begin on the radio: the folds setting and the beacon setting.
FOLDS_SETTING, BEACON_SETTING = "c3f1050220", "c3f1050620"


def mesh_sends(records):
    return [r for r in records if r.get("kind") == "call" and r.get("member") in ("Send", "DevKeySend")
            and "error" not in r]


# ---- sensor messages -----------------------------------------------------------------------

def cbor_text(text):
    data = text.encode()
    assert len(data) < 24
    return bytes([0x60 + len(data)]) + data


def cbor_unsigned(value):
    if value < 24:
        return bytes([value])
    if value < 0x100:
        return bytes([0x18, value])
    return bytes([0x19]) + value.to_bytes(2, "big")


def sensor_report(kind, value):
    """A node's sensor data status as its firmware writes it: opcode 0xC1 + company 0x05F1, a
    header (body length - 1 in bits 1-7, two bytes), the CBOR body {"k","v"}."""
    body = bytes([0xA2]) + cbor_text("k") + cbor_text(kind) + cbor_text("v") + cbor_unsigned(value)
    return (bytes([0xC1, 0xF1, 0x05, (len(body) - 1) << 1, 0, 0]) + body).hex()


def fold_marker(kind, fold):
    """How a fold of `kind` appears in the CBOR of the gateway's folds setting."""
    return (cbor_text(kind) + cbor_unsigned(fold)).hex()


def push_folds(gateway, device_id, fold):
    """Pushes a fold of "temp" to the channel of `device_id` once the gateway subscribes to it;
    returns the moment of the push that reached the gateway."""
    deadline = time.monotonic() + 30
    while True:
        moment = now_ms()
        reply = json.loads(gateway.cloud("POST", "/channel/folds",
                                         {"device_id": device_id, "folds": [{"key": "temp", "fold": fold}]}))
        if reply.get("sent", 0) > 0:
            return moment
        if time.monotonic() > deadline:
            raise RuntimeError(f"the gateway did not subscribe to the channel of {device_id}")
        time.sleep(0.5)


def fold_arrivals(gateway, pushes):
    """Push-to-node times (ms) of the fold pushes {fold: (moment, address)} that reached their node."""
    arrived = {}
    for record in mesh_sends(gateway.meshd({"cmd": "records"})["records"]):
        for fold, (moment, address) in pushes.items():
            if fold in arrived or record["destination"] != address or record["mono_ms"] < moment:
                continue
            if record["data"].startswith(FOLDS_SETTING) and fold_marker("temp", fold) in record["data"]:
                arrived[fold] = record["mono_ms"] - moment
    return arrived




def settings_sent(records):
    """The folds and beacon settings the gateway sent: (all sends, distinct (address, bytes)),
    each distinct one with the moment (ms) of its first send."""
    first = {}
    total = 0
    for record in mesh_sends(records):
        if record["member"] == "Send" and record["data"].startswith((FOLDS_SETTING, BEACON_SETTING)):
            total += 1
            first.setdefault((record["destination"], record["data"]), record["mono_ms"])
    return total, first
