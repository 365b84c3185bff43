"""The phases of the gateway's story. Each begins with what the story does to the stand-ins
and is done when what a person would check has happened (`check` returns True); `detail`
says where it stands."""
import threading
import time

from standins import StandInError

RING_CAPACITY = 500  # readings the daemon's report ring holds while the cloud is away

PHONE_SCRIPT = {
    "cmd": "provision",
    "ssid": "Office",
    "key": "s3cret-pass",
    "mesh": {"n": "AAECAwQFBgcICQoLDA0ODw==", "a": "EBESExQVFhcYGRobHB0eHw==", "u": 1, "g": 0xCA00},
}


class PhaseFailed(Exception):
    pass


class Phase:
    name = ""
    title = ""
    timeout = 60.0

    def __init__(self):
        self.state = "waiting"  # waiting, running, done, failed
        self.detail = ""
        self.started = None
        self.finished = None

    def begin(self, story):
        pass

    def check(self, story):
        raise NotImplementedError

    def end(self, story):
        """Undoes what the phase changed, when it ends in any way."""


class Boot(Phase):
    name = "boot"
    title = "first boot in provisioning mode"

    def check(self, story):
        status = story.world.phone
        if not status:
            self.detail = "waiting for the daemon's provisioning service"
            return False
        advertisement = (status.get("adapter") or {}).get("advertisement") or {}
        if status["adapter"].get("application") and advertisement:
            name = advertisement.get("properties", {}).get("LocalName", "?")
            self.detail = f"GATT service published, advertising as {name}"
            return True
        self.detail = "waiting for the GATT service and advertisement"
        return False


class Provisioning(Phase):
    name = "provisioning"
    title = "the phone reads the identity, chooses Wi-Fi, hands over the mesh keys"
    timeout = 90.0

    def __init__(self):
        super().__init__()
        self.session = None
        self.thread = None

    def begin(self, story):
        story.world.bluetoothd_busy = True  # its control socket serves one command at a time

        def run():
            try:
                self.session = story.standins.bluetoothd(PHONE_SCRIPT)
            except StandInError as error:
                self.session = {"ok": False, "error": str(error)}

        self.thread = threading.Thread(target=run, daemon=True)
        self.thread.start()
        self.detail = f"phone connected, provisioning Wi-Fi '{PHONE_SCRIPT['ssid']}' and mesh keys"

    def check(self, story):
        if self.thread.is_alive():
            return False
        story.world.bluetoothd_busy = False
        session = self.session
        if not session.get("ok"):
            raise PhaseFailed(f"provisioning session failed: {session.get('error', session)}")
        networks = ", ".join(network.get("s", "?") for network in session.get("networks", []))
        identity = session.get("identity", {})
        wifi = session.get("wifi")
        self.detail = f"identity read (serial {identity.get('s', '?')}), networks seen: {networks}; Wi-Fi '{PHONE_SCRIPT['ssid']}': {wifi}"
        if wifi != "WCS":
            raise PhaseFailed(f"the Wi-Fi set-up ended with {wifi}")
        return True

    def end(self, story):
        story.world.bluetoothd_busy = False


class MeshSwitch(Phase):
    name = "mesh"
    title = "the switch to mesh mode: bluetoothd restarted, node joined and attached"
    timeout = 90.0

    def check(self, story):
        restarted = "bluetoothd restart" in story.world.tools_log
        node = story.world.attached_node()
        steps = ["bluetoothd restarted" if restarted else "waiting for the bluetoothd restart"]
        if node:
            steps.append(f"node {node.get('unicast', 0):04x} attached to the mesh daemon")
        elif story.world.mesh_nodes:
            steps.append("node joined, not attached yet")
        self.detail = "; ".join(steps)
        return restarted and node is not None


class SensorsJoin(Phase):
    name = "sensors"
    title = "simulated sensors join and report"
    timeout = 240.0

    def begin(self, story):
        options = story.options
        story.standins.meshd({"cmd": "pace", "minute_ms": options.minute_ms})
        story.standins.meshd({"cmd": "add_sensors", "count": options.sensors, "three_channel_every": 3})
        if options.list_sensors:
            story.standins.list_sensors_at_cloud(fold=1, beacon=False)
        self.detail = f"{options.sensors} sensors switched on (a fold minute lasts {options.minute_ms / 1000:g} s for them)"

    def check(self, story):
        sensors = story.world.sensors
        joined = [sensor for sensor in sensors if sensor.get("gateway")]
        reported = [sensor for sensor in sensors if story.world.sensor_received(sensor) > 0]
        self.detail = f"{len(joined)}/{len(sensors)} heard the gateway, {len(reported)}/{len(sensors)} reported to the cloud"
        return len(sensors) >= story.options.sensors and len(reported) == len(sensors)


class CloudSettings(Phase):
    name = "settings"
    title = "the cloud pushes folds and a beacon change over the websocket"
    timeout = 120.0
    repush_after = 20.0

    def __init__(self):
        super().__init__()
        self.folds_target = None
        self.beacon_target = None
        self.baseline = {}
        self.pushed_at = 0.0
        self.sent = (0, 0)  # channel connections each push reached

    def begin(self, story):
        sensors = story.world.sensors
        plain = [sensor for sensor in sensors if len(sensor.get("kinds", {})) == 1] or sensors
        self.folds_target = plain[0]
        others = [sensor for sensor in sensors if sensor is not self.folds_target] or sensors
        self.beacon_target = others[-1]
        self.baseline = {
            "folds": self.folds_target["channels"]["0"]["folds_acknowledged"],
            "beacon": self.beacon_target["beacon_acknowledged"],
        }
        self.push(story)

    def push(self, story):
        kinds = next(iter(self.folds_target["kinds"].values()))
        folds = [{"key": kind, "fold": 2} for kind in kinds]
        sent_folds = story.standins.cloud("POST", "/channel/folds", {"device_id": self.folds_target["id"], "folds": folds})
        sent_beacon = story.standins.cloud("POST", "/channel/beacon", {"device_id": self.beacon_target["id"], "ble_enabled": True})
        self.pushed_at = time.monotonic()
        self.sent = (sent_folds or {}).get("sent", 0), (sent_beacon or {}).get("sent", 0)

    def check(self, story):
        current = {sensor["address"]: sensor for sensor in story.world.sensors}
        folds_node = current.get(self.folds_target["address"], self.folds_target)
        beacon_node = current.get(self.beacon_target["address"], self.beacon_target)
        folds_done = (folds_node["channels"]["0"]["folds_acknowledged"] > self.baseline["folds"]
                      and all(value == 2 for value in folds_node["channels"]["0"]["folds"].values()))
        beacon_done = beacon_node["beacon_acknowledged"] > self.baseline["beacon"] and beacon_node["beacon_enabled"]
        self.detail = (f"folds of 2 min to {folds_node['id']}: {'acknowledged' if folds_done else 'pushed'}; "
                       f"beacon on for {beacon_node['id']}: {'acknowledged' if beacon_done else 'pushed'}")
        if 0 in self.sent and time.monotonic() - self.pushed_at > self.repush_after:
            self.push(story)  # no subscribed channel yet: push again
        return folds_done and beacon_done


class PlcPolled(Phase):
    name = "plc"
    title = "the PLC the cloud lists is polled and reported"
    timeout = 180.0

    def check(self, story):
        values = story.world.plc_values
        if not values:
            self.detail = "waiting for the cloud's PLC list"
            return False
        reported = [device_id for device_id in values if story.world.readings.count[device_id] > 0]
        self.detail = f"{len(reported)}/{len(values)} PLC values reported"
        return len(reported) == len(values)


class FirmwareServed(Phase):
    name = "firmware"
    title = "a device firmware image served block by block to a sensor"
    timeout = 300.0

    def check(self, story):
        installed = [sensor for sensor in story.world.sensors if sensor.get("installed")]
        active = [sensor for sensor in story.world.sensors if sensor.get("firmware", {}).get("active")]
        if installed:
            sensor = installed[0]
            self.detail = f"sensor {sensor['id']} installed {sensor['installed'][-1]}"
            if active:
                self.detail += f"; {len(active)} more downloading"
            return True
        if active:
            progress = ", ".join(f"{sensor['id']} {sensor['firmware']['next_block']}/{sensor['firmware']['blocks']}" for sensor in active)
            self.detail = f"blocks served: {progress}"
        else:
            self.detail = "waiting for the gateway's firmware announcement"
        return False


class CloudOutage(Phase):
    name = "outage"
    title = "a cloud outage and its recovery, no reading lost beyond the ring's rule"

    def __init__(self):
        super().__init__()
        self.stage = "before"
        self.baseline_gap = None
        self.sent_at_start = 0
        self.sent_at_end = 0
        self.stage_since = 0.0
        self.gaps = []

    def begin(self, story):
        self.timeout = story.options.outage_s + 240.0
        self.stage_since = time.monotonic()
        self.gaps = []

    def gap(self, story):
        return story.world.sensors_sent() - story.world.sensors_received()

    def check(self, story):
        now = time.monotonic()
        gap = self.gap(story)
        self.gaps.append((now, gap))
        recent = [value for at, value in self.gaps if now - at <= 5.0]
        if self.stage == "before":
            # The readings still on their way right before the outage.
            self.detail = "measuring the readings in flight"
            if now - self.stage_since >= 5.0:
                self.baseline_gap = min(recent)
                self.sent_at_start = story.world.sensors_sent()
                begin_outage(story)
                self.stage, self.stage_since = "outage", now
            return False
        if self.stage == "outage":
            left = story.options.outage_s - (now - self.stage_since)
            self.detail = f"cloud refusing connections, {max(left, 0):.0f} s left; {gap - self.baseline_gap} readings held by the gateway"
            if left <= 0:
                end_outage(story)
                self.sent_at_end = story.world.sensors_sent()
                self.stage, self.stage_since = "recovery", now
            return False
        produced = self.sent_at_end - self.sent_at_start
        allowed = max(0, produced - RING_CAPACITY)
        missing = min(recent) - self.baseline_gap
        self.detail = (f"cloud back; {produced} readings made during the outage, "
                       f"{max(missing, 0)} still to arrive (the ring may lose {allowed})")
        if missing <= allowed and now - self.stage_since >= 5.0:
            self.detail = f"cloud back; all {produced} readings made during the outage arrived" if missing <= 0 else \
                f"cloud back; {missing} of {produced} readings lost, within the ring's {RING_CAPACITY}"
            return True
        return False

    def end(self, story):
        if story.world.refusing:
            try:
                end_outage(story)
            except StandInError:
                pass


def begin_outage(story):
    """The cloud goes away: new connections are refused, and the connections already open
    (the daemon keeps its REST connection and the channel open) are cut."""
    story.standins.cloud("POST", "/refuse", {"refuse": True})
    story.standins.cloud("POST", "/faults", {"path": "/", "drop": True})
    story.standins.cloud("POST", "/channel/drop")
    story.world.refusing = True


def end_outage(story):
    story.standins.cloud("DELETE", "/faults")
    story.standins.cloud("POST", "/refuse", {"refuse": False})
    story.world.refusing = False


def all_phases():
    return [Boot(), Provisioning(), MeshSwitch(), SensorsJoin(), CloudSettings(), PlcPolled(), FirmwareServed(),
            CloudOutage()]
