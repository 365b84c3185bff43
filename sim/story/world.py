"""What the story shows, gathered from the stand-ins and the daemon's log: readings the cloud
received per device, the simulated sensors, the mesh node, the channel, the PLC, the LED and
the daemon's error lines."""
import collections
import json
import re

from daemon import LogFollower, severity
from led import LedMirror
from standins import StandInError

REPORT_PATH = "/gateways/report"
# Routine lines the daemon logs at error level (each paced control and firmware send, each
# folds acknowledgement): counted, not listed among the errors.
ROUTINE_AT_ERROR_LEVEL = re.compile(r"\] Send (CTRL|OTA) : \d+$|\[ReceiveDispatch::OnFoldsAcknowledged@\d+\] ")
TOOLS_LOG = "/var/log/sim/tools.log"


class Readings:
    """Readings per device id as the cloud received them."""

    def __init__(self):
        self.count = collections.Counter()
        self.last = {}
        self.seen_requests = 0
        self.heartbeats = 0

    def take(self, requests):
        if len(requests) < self.seen_requests:  # the record was cleared
            self.seen_requests = 0
        for request in requests[self.seen_requests:]:
            if not 200 <= request.get("status", 200) < 300:
                continue  # dropped or refused by a scripted fault: the daemon keeps it
            target = request.get("target", "")
            if "heartbeat" in target:
                self.heartbeats += 1
            if REPORT_PATH not in target:
                continue
            try:
                nodes = json.loads(request.get("body", "")).get("nodes", [])
            except (ValueError, AttributeError):
                continue
            for node in nodes:
                for value in node.get("vs", []):
                    self.count[node.get("id", "?")] += 1
                    self.last[node.get("id", "?")] = value.get("v") if isinstance(value, dict) else value
        self.seen_requests = len(requests)

    def total(self, ids=None):
        if ids is None:
            return sum(self.count.values())
        return sum(self.count[device_id] for device_id in ids)


class World:
    def __init__(self, standins, log_path, gateway_id="0a1b2c3d4e5f", max_errors=6):
        self.standins = standins
        self.gateway_id = gateway_id
        self.log = LogFollower(log_path)
        self.led = LedMirror()
        self.readings = Readings()
        self.errors = collections.deque(maxlen=max_errors)
        self.error_count = 0
        self.routine_errors = 0  # routine lines logged at error level
        self.new_errors = []  # since the last poll, for line output
        self.sensors = []
        self.mesh_nodes = []
        self.channel = []  # the cloud's channel connections
        self.plc_status = {}
        self.plc_values = {}  # device id → (PLC name, kind, address)
        self.phone = None  # bluetoothd status, when it may be asked
        self.bluetoothd_busy = False
        self.refusing = False
        self.tools_log = ""
        self.problems = []  # stand-ins that did not answer this poll

    # Polling
    def poll(self):
        self.problems = []
        self.new_errors = []
        for line in self.log.new_lines():
            self.led.feed(line)
            if severity(line) in ("ERROR", "FATAL"):
                if ROUTINE_AT_ERROR_LEVEL.search(line):
                    self.routine_errors += 1
                    continue
                self.errors.append(line)
                self.new_errors.append(line)
                self.error_count += 1
        self.readings.take(self._ask(self.standins.cloud_requests, []))
        self.sensors = self._ask(self.standins.sensors, self.sensors)
        self.mesh_nodes = self._ask(self.standins.mesh_nodes, self.mesh_nodes)
        self.channel = self._ask(self.standins.channel, self.channel) or []
        self.plc_status = self._ask(lambda: self.standins.plc({"cmd": "status"}), self.plc_status)
        if not self.plc_values:
            self.plc_values = self._plc_values()
        if not self.bluetoothd_busy:
            self.phone = self._ask(lambda: self.standins.bluetoothd({"cmd": "status"}), self.phone)
        try:
            with open(TOOLS_LOG, encoding="utf-8", errors="replace") as tools:
                self.tools_log = tools.read()
        except OSError:
            pass

    def _ask(self, call, fallback):
        try:
            return call()
        except StandInError as error:
            self.problems.append(str(error))
            return fallback

    def _plc_values(self):
        scenario = self._ask(lambda: self.standins.cloud("GET", "/scenario"), None) or {}
        values = {}
        for plc in scenario.get("devices", {}).get(self.gateway_id, {}).get("plcs", []):
            for address in plc.get("plc_addresses", []):
                values[address["device_id"]] = (plc.get("name", "PLC"), address.get("sensor_type", "?"),
                                                 address.get("addr", "?"))
        return values

    # Views
    def sensor_ids(self, sensor):
        return list(sensor.get("kinds", {}).keys()) or [sensor.get("id", "")]

    def sensor_received(self, sensor):
        return self.readings.total(self.sensor_ids(sensor))

    def sensors_sent(self):
        return sum(sensor.get("reports_sent", 0) for sensor in self.sensors)

    def sensors_received(self):
        return sum(self.sensor_received(sensor) for sensor in self.sensors)

    def attached_node(self):
        for node in self.mesh_nodes:
            if node.get("attached"):
                return node
        return None

    def open_channels(self):
        return [connection for connection in self.channel if connection.get("open")]
