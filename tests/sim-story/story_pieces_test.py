"""The story driver's pieces, without a sandbox: what they make of log lines, the cloud's
record and the stand-ins' replies."""
import io
import json
import os
import tempfile
import types
import unittest

import gateway_view
import phases
import story
from daemon import LogFollower, severity
from led import LedMirror
from summary import LineSummary, block
from world import Readings, World


def report(device_id, value):
    return {"target": "/api/v1/gateways/report", "body": json.dumps({"nodes": [{"id": device_id, "vs": [{"k": "temp", "v": value}]}]})}


def log_line(severity_name, text):
    return f"2026-12-10 23:53:33.605 {severity_name:<5} [20208] [App::OnMessage@70] {text}"


class FakeStandIns:
    """Answers like the stand-ins with fixed state; records what was asked."""

    def __init__(self):
        self.calls = []
        self.requests = []
        self.sensor_list = []

    def cloud(self, method, path, body=None):
        self.calls.append((method, path, body))
        if path == "/scenario":
            return {"devices": {"0a1b2c3d4e5f": {"plcs": [{"name": "line 1", "plc_addresses": [
                {"device_id": "plc-temp", "sensor_type": "temp", "addr": "W.D.100"}]}]}}}
        return {"sent": 1}

    def cloud_requests(self):
        return self.requests

    def sensors(self):
        return self.sensor_list

    def mesh_nodes(self):
        return []

    def channel(self):
        return []

    def plc(self, command):
        return {"ok": True, "power": True, "connections": 1}

    def bluetoothd(self, command):
        return {"ok": True, "adapter": {}, "phone": {"connected": False}}


def sensor(address, sent, three_channel=False):
    identifier = f"5e05000001{address:02x}"
    kinds = {identifier: ["temp"]} if three_channel else {identifier: ["humi", "temp"]}
    if three_channel:
        kinds.update({f"{identifier}_{channel}": ["current"] for channel in (1, 2, 3)})
    return {"address": address, "id": identifier, "kinds": kinds, "gateway": 1, "reports_sent": sent,
            "beacon_enabled": False, "beacon_acknowledged": 0, "version": "1.0.0+0", "installed": [],
            "firmware": {"active": False, "next_block": 0, "blocks": 0}, "faults": {},
            "channels": {"0": {"folds": {"temp": 1}, "folds_acknowledged": 0}}}


class LedMirrorTest(unittest.TestCase):
    def test_follows_the_daemons_led_machine(self):
        cases = [
            ([], "BootUp"),
            (["SYS_EVT_NETWORK_CONNECTED"], "ServerNotConnected"),
            (["SYS_EVT_NETWORK_CONNECTED", "SYS_EVT_SERVER_CONNECTED"], "Normal"),
            (["SYS_EVT_NETWORK_CONNECTED", "SYS_EVT_SERVER_CONNECTED", "SYS_EVT_SERVER_DISCONNECTED"], "ServerNotConnected"),
            (["SYS_EVT_SERVER_CONNECTED"], "BootUp"),  # no cloud before the network
            (["SYS_EVT_NETWORK_DISCONNECTED", "SYS_EVT_SERVER_CONNECTED"], "InternetNotConnected"),
            (["SYS_EVT_NETWORK_CONNECTED", "Bluetooth Malfunction", "SYS_EVT_SERVER_CONNECTED"], "SystemErrorPanic"),
            # Bluetooth set up after all: what the connectivity events since lead to.
            (["SYS_EVT_NETWORK_CONNECTED", "Bluetooth Malfunction", "SYS_EVT_SERVER_CONNECTED",
              "SYS_EVT_BLUETOOTH_RECOVERED"], "Normal"),
            (["Bluetooth Malfunction", "SYS_EVT_BLUETOOTH_RECOVERED"], "BootUp"),
            (["SYS_EVT_BLUETOOTH_RECOVERED"], "BootUp"),
            (['{"event":"reset"}'], "BootUp"),  # the button only counts once connectivity is shown
            (["SYS_EVT_NETWORK_DISCONNECTED", '{"event": "reset"}'], "SystemReset"),
        ]
        for texts, expected in cases:
            with self.subTest(texts=texts):
                mirror = LedMirror()
                for text in texts:
                    mirror.feed(log_line("VERB", text))
                self.assertEqual(mirror.state, expected)
                self.assertTrue(mirror.looks())


class LogTest(unittest.TestCase):
    def test_follower_returns_whole_lines_once_without_colours(self):
        with tempfile.TemporaryDirectory() as directory:
            path = os.path.join(directory, "daemon.log")
            follower = LogFollower(path)
            self.assertEqual(follower.new_lines(), [])  # not written yet
            with open(path, "ab") as log:
                log.write(b"\x1b[31mfirst\x1b[0m\nsecond, half")
            self.assertEqual(follower.new_lines(), ["first"])
            with open(path, "ab") as log:
                log.write(b" done\n\xff\n")
            self.assertEqual(follower.new_lines(), ["second, half done", "\ufffd"])
            self.assertEqual(follower.new_lines(), [])

    def test_severity_of_a_line(self):
        self.assertEqual(severity(log_line("ERROR", "Folds not update")), "ERROR")
        self.assertEqual(severity(log_line("WARN", "x")), "WARN")
        self.assertIsNone(severity(log_line("VERB", "ERROR in the text")))
        self.assertIsNone(severity("> GET /files/a HTTP/1.1"))


class ReadingsTest(unittest.TestCase):
    def test_tallies_new_requests_and_starts_over_when_the_record_is_cleared(self):
        readings = Readings()
        requests = [report("a", 1), {"target": "/api/v1/gateways/heartbeat", "body": "[]"}, report("b", 2)]
        readings.take(requests)
        readings.take(requests)  # nothing new
        self.assertEqual((readings.count["a"], readings.count["b"], readings.heartbeats), (1, 1, 1))
        dropped = dict(report("a", 9), status=0)  # cut by a scripted fault: not received
        requests += [report("a", 3), {"target": "/api/v1/gateways/report", "body": "not json"}, dropped]
        readings.take(requests)
        self.assertEqual((readings.count["a"], readings.last["a"]), (2, 3))
        readings.take([report("b", 4)])  # cleared, then one new request
        self.assertEqual((readings.count["b"], readings.total()), (2, 4))
        self.assertEqual(readings.total(["a"]), 2)


class PhasesTest(unittest.TestCase):
    def make_story(self, sensors, outage_s=20.0):
        standins = FakeStandIns()
        standins.sensor_list = sensors
        world = World(standins, "/nonexistent/log")
        options = types.SimpleNamespace(sensors=len(sensors), minute_ms=10000, outage_s=outage_s, list_sensors=False)
        return types.SimpleNamespace(standins=standins, world=world, options=options), standins

    def test_sensors_are_done_when_each_reported_through_any_of_its_ids(self):
        sensors = [sensor(1, 3), sensor(2, 3, three_channel=True)]
        context, standins = self.make_story(sensors)
        phase = phases.SensorsJoin()
        standins.requests = [report(sensors[0]["id"], 1)]
        context.world.poll()
        self.assertFalse(phase.check(context))
        standins.requests.append(report(sensors[1]["id"] + "_2", 1))
        context.world.poll()
        self.assertTrue(phase.check(context), phase.detail)

    def test_outage_counts_readings_that_never_arrived(self):
        sensors = [sensor(1, 10)]
        context, standins = self.make_story(sensors, outage_s=0.0)
        standins.requests = [report(sensors[0]["id"], value) for value in range(10)]
        phase = phases.CloudOutage()
        phase.begin(context)
        context.world.poll()
        phase.stage_since -= 5.0  # the look at the readings in flight is over
        self.assertFalse(phase.check(context))
        self.assertEqual(phase.stage, "outage")
        self.assertIn(("POST", "/refuse", {"refuse": True}), standins.calls)
        self.assertIn(("POST", "/faults", {"path": "/", "drop": True}), standins.calls)
        sensors[0]["reports_sent"] = 16  # six made while the cloud refused
        self.assertFalse(phase.check(context))
        self.assertIn(("POST", "/refuse", {"refuse": False}), standins.calls)
        self.assertIn(("DELETE", "/faults", None), standins.calls)
        phase.stage_since -= 5.0
        phase.gaps = []
        standins.requests += [report(sensors[0]["id"], value) for value in range(4)]
        context.world.poll()
        self.assertFalse(phase.check(context), "two readings are missing")
        self.assertIn("2 still to arrive", phase.detail)
        standins.requests += [report(sensors[0]["id"], value) for value in range(2)]
        context.world.poll()
        phase.gaps = []
        self.assertTrue(phase.check(context), phase.detail)
        self.assertIn("all 6 readings", phase.detail)


class StoryOptionsTest(unittest.TestCase):
    def test_sensor_minute_keeps_the_cloud_rate_within_one_report_a_second(self):
        for sensors in (1, 2, 12, 100):
            with self.subTest(sensors=sensors):
                minute_ms = story.sensor_minute_ms(sensors)
                self.assertGreaterEqual(minute_ms, 10000)
                self.assertLessEqual(minute_ms, 60000)
        self.assertEqual(story.sensor_minute_ms(2), 10000)
        self.assertEqual(story.sensor_minute_ms(12), 60000)


class SummaryTest(unittest.TestCase):
    def test_line_output_names_the_phase_errors_and_counts(self):
        standins = FakeStandIns()
        standins.sensor_list = [sensor(1, 2)]
        standins.requests = [report(standins.sensor_list[0]["id"], 1)]
        with tempfile.TemporaryDirectory() as directory:
            path = os.path.join(directory, "daemon.log")
            with open(path, "w") as log:
                log.write(log_line("ERROR", "Send OTA : 51400") + "\n" + log_line("ERROR", "Folds not update ") + "\n")
            world = World(standins, path)
            world.poll()
            context = types.SimpleNamespace(world=world, started=0.0, log_path=path, phases=phases.all_phases())
            context.phases[0].state = "done"
            context.current_phase = lambda: context.phases[1]
            out = io.StringIO()
            LineSummary(out).show(context)
            text = out.getvalue()
            self.assertIn("daemon error: " + log_line("ERROR", "Folds not update "), text)
            self.assertNotIn("Send OTA", text)  # a paced send, counted apart
            self.assertEqual((world.error_count, world.routine_errors), (1, 1))
            self.assertIn("1/1 sensors joined | cloud 1 readings", text)
            lines = block(context, 200, 40)
            self.assertIn("+boot", lines[1])
            self.assertTrue(any("5e0500000101" in line for line in lines))
            self.assertTrue(any("line 1 temp" in line for line in lines))
            self.assertEqual(lines[-1], f"Daemon log: {path}")


class GatewayViewTest(unittest.TestCase):
    STATUS = {"version": "0.1.0", "uptime": 95, "mode": "mesh", "wan": {"up": True},
              "cloud": {"authorised": True, "websocket": "open", "last_delivery": 1700000098,
                        "reports": {"pending": 2, "delivered": 120, "overwritten": 0, "refused": 1}},
              "mesh": {"joined": True, "address": 1, "nodes": 2},
              "plcs": {"configured": 1, "answering": 1},
              "firmware": {"downloading": False, "sessions": 1}}

    def test_the_status_in_three_lines(self):
        lines = gateway_view.status_lines(self.STATUS, 1700000100)
        self.assertEqual(lines, [
            "ubus call quellaron status: version 0.1.0, up 95 s, mode mesh, WAN up",
            "  cloud: authorised, websocket open, last delivery 2 s ago; reports 120 delivered, 2 pending, "
            "0 overwritten, 1 refused",
            "  mesh joined as 0001, 2 nodes | PLCs 1/1 answering | firmware: 1 session(s)"])
        fresh = json.loads(json.dumps(self.STATUS))
        fresh["cloud"]["last_delivery"] = None
        fresh["mesh"] = {"joined": False, "address": None, "nodes": 0}
        lines = gateway_view.status_lines(fresh, 1700000100)
        self.assertIn("last delivery none yet", lines[1])
        self.assertTrue(lines[2].startswith("  mesh not joined, 0 nodes"))

    def test_the_nodes_as_a_table(self):
        nodes = {"nodes": [
            {"id": "5e0500000101", "address": 257, "channel": 0, "type": 401, "version": "1.0.0+0", "last_seen": 3,
             "folds": {"temp": 2}, "acknowledged": {"folds": True, "beacon": None}, "pending_settings": False,
             "last_report": {"temp": 3, "humi": 8}},
            {"id": "5e0500000101_1", "address": 257, "channel": 1, "type": 401, "version": None, "last_seen": 3,
             "folds": None, "acknowledged": {"folds": None, "beacon": None}, "pending_settings": True,
             "last_report": {}}]}
        lines = gateway_view.nodes_lines(nodes)
        self.assertEqual(lines[0], "ubus call quellaron nodes: 2 node(s)")
        self.assertEqual(len(lines), 4)
        self.assertIn("0101   0  5e0500000101", lines[2])
        self.assertIn("temp:2", lines[2])
        self.assertIn("yes/-", lines[2])
        self.assertIn("temp:3,humi:8", lines[2])
        self.assertIn("-/- pending", lines[3])
        self.assertEqual(gateway_view.nodes_lines({"nodes": []}), ["ubus call quellaron nodes: 0 node(s)"])

    def test_a_failed_call_is_an_error_not_a_crash(self):
        original = gateway_view.UBUS_CLI
        gateway_view.UBUS_CLI = "/nonexistent/ubus"
        try:
            with self.assertRaises(gateway_view.OperatorCallFailed):
                gateway_view.call("status")
        finally:
            gateway_view.UBUS_CLI = original


if __name__ == "__main__":
    unittest.main()
