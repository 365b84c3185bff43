"""Clients of the stand-ins' control sockets inside the sandbox, built on the functions of
sim/sandbox/tools/control (one JSON command per line for meshd, bluetoothd and the PLC;
HTTP for the cloud)."""
import importlib.machinery
import json
import os
import types

_CONTROL_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sandbox", "tools", "control")


def _load_control():
    # The tool is a script without a .py name, so it is loaded from its path.
    loader = importlib.machinery.SourceFileLoader("standin_control", _CONTROL_PATH)
    module = types.ModuleType(loader.name)
    module.__file__ = _CONTROL_PATH
    loader.exec_module(module)
    return module


control = _load_control()


class StandInError(RuntimeError):
    pass


class StandIns:
    """One method per control command the story uses. `root` prefixes the socket paths (empty
    inside the sandbox)."""

    def __init__(self, root=""):
        self.root = root.rstrip("/")

    def _line(self, target, command):
        try:
            reply = control.line_call(f"{self.root}/run/sim/{target}.sock", command)
        except (OSError, ValueError) as error:
            raise StandInError(f"{target}: {error}") from error
        if not reply.get("ok", False):
            raise StandInError(f"{target} {command.get('cmd')}: {reply.get('error', reply)}")
        return reply

    def meshd(self, command):
        return self._line("meshd", command)

    def bluetoothd(self, command):
        return self._line("bluetoothd", command)

    def plc(self, command):
        return self._line("plc", command)

    def cloud(self, method, path, body=None):
        text = json.dumps(body) if body is not None and not isinstance(body, str) else body
        try:
            reply = control.cloud_call(self.root, method, path, text)
        except (OSError, RuntimeError) as error:
            raise StandInError(str(error)) from error
        return json.loads(reply) if reply.strip() else None

    def list_sensors_at_cloud(self, fold=1, beacon=False):
        """Gives every simulated sensor a device entry at the cloud; returns how many."""
        return control.sensor_settings(self.root, fold, beacon)

    # The pieces of state the story shows.
    def sensors(self):
        return self.meshd({"cmd": "sensors"})["sensors"]

    def mesh_nodes(self):
        return self.meshd({"cmd": "status"})["nodes"]

    def cloud_requests(self):
        return self.cloud("GET", "/requests") or []

    def channel(self):
        return self.cloud("GET", "/channel")
