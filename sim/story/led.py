"""The status LED as the daemon drives it. The sandbox has no GPIO chips, so the daemon's LED
has no lines; its LED state machine is driven by events the daemon logs, and this mirror
follows the same transitions from those log lines."""
import re

# State → what the LED shows.
LOOKS = {
    "BootUp": "blue on (booting)",
    "InternetNotConnected": "red blink 0.5 s on / 1.5 s off (no internet)",
    "ServerNotConnected": "red blink 1 s on / 1 s off (no cloud)",
    "Normal": "green double blink (cloud reachable)",
    "SystemErrorPanic": "red on (Bluetooth malfunction, until Bluetooth recovers)",
    "SystemReset": "red, green, blue in turn (reset)",
}

_CONNECTIVITY = ("InternetNotConnected", "ServerNotConnected", "Normal")

# Log marker → event name.
_EVENTS = [
    (re.compile(r"SYS_EVT_NETWORK_CONNECTED"), "NetworkConnected"),
    (re.compile(r"SYS_EVT_NETWORK_DISCONNECTED"), "NetworkDisconnected"),
    (re.compile(r"SYS_EVT_SERVER_CONNECTED"), "ServerConnected"),
    (re.compile(r"SYS_EVT_SERVER_DISCONNECTED"), "ServerDisconnected"),
    (re.compile(r"Bluetooth Malfunction"), "BluetoothMalfunction"),
    (re.compile(r"SYS_EVT_BLUETOOTH_RECOVERED"), "BluetoothRecovered"),
    (re.compile(r'"event"\s*:\s*"reset"'), "ResetButton"),
]

# (state, event) → next state; pairs not listed leave the state as it is.
_TRANSITIONS = {
    ("BootUp", "NetworkConnected"): "ServerNotConnected",
    ("BootUp", "NetworkDisconnected"): "InternetNotConnected",
    ("BootUp", "BluetoothMalfunction"): "SystemErrorPanic",
    ("InternetNotConnected", "NetworkConnected"): "ServerNotConnected",
    ("ServerNotConnected", "NetworkDisconnected"): "InternetNotConnected",
    ("ServerNotConnected", "ServerConnected"): "Normal",
    ("Normal", "NetworkDisconnected"): "InternetNotConnected",
    ("Normal", "ServerDisconnected"): "ServerNotConnected",
}
for _state in _CONNECTIVITY:
    _TRANSITIONS[(_state, "BluetoothMalfunction")] = "SystemErrorPanic"
    _TRANSITIONS[(_state, "ResetButton")] = "SystemReset"


class LedMirror:
    def __init__(self):
        self.state = "BootUp"
        self.changes = 0
        # During the panic: the state the connectivity events lead to, shown on recovery.
        self.underneath = None

    def feed(self, line):
        """Follows one log line; returns True when the LED changed."""
        for pattern, event in _EVENTS:
            if pattern.search(line):
                following = self._next(event)
                if following and following != self.state:
                    self.state = following
                    self.changes += 1
                    return True
                return False
        return False

    def _next(self, event):
        if self.state != "SystemErrorPanic":
            following = _TRANSITIONS.get((self.state, event))
            if following == "SystemErrorPanic":
                self.underneath = self.state
            return following
        if event == "BluetoothRecovered":
            return self.underneath
        if event != "ResetButton":
            self.underneath = _TRANSITIONS.get((self.underneath, event), self.underneath)
        return None

    def looks(self):
        return LOOKS[self.state]
