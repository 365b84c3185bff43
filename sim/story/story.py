#!/usr/bin/env python3
"""Plays a gateway's life around the daemon, inside the sandbox among the stand-ins: first boot
in provisioning mode, the phone's provisioning, the switch to mesh, sensors joining and
reporting, the cloud's folds and beacon pushes, the PLC polled, a firmware image served to a
sensor, a cloud outage and its recovery. Shows a live summary, and at the end of each phase
what the daemon tells an operator (`ubus call quellaron status`, after the sensors and at
the end also `nodes`); the daemon's output goes to the log file given.

  story.py [--sensors N] [--quick] [--log PATH] DAEMON
"""
import argparse
import os
import signal
import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean of caches

import gateway_view
from daemon import GatewayDaemon
from phases import PhaseFailed, all_phases
from standins import StandIns, StandInError
from summary import LineSummary, TerminalSummary
from world import World

FIRMWARE_IMAGE = "sensor-node_1.0.1-0.bin"
CLOUD_RATE = 0.5  # readings per second the sensors may make: the daemon posts one a second
NODES_AFTER = ("sensors",)  # phases after which the daemon's node list is shown too


class Story:
    def __init__(self, options, standins, world, summary):
        self.options = options
        self.standins = standins
        self.world = world
        self.summary = summary
        self.phases = all_phases()
        self.log_path = options.log
        self.started = time.monotonic()

    def current_phase(self):
        for phase in self.phases:
            if phase.state in ("waiting", "running"):
                return phase
        return None

    def step(self):
        """One look at the world and the phase in progress; False when the story is over."""
        self.world.poll()
        phase = self.current_phase()
        if phase is None:
            return False
        now = time.monotonic()
        try:
            if phase.state == "waiting":
                phase.state, phase.started = "running", now
                self.summary.say(self, f"phase {phase.name}: {phase.title}")
                phase.begin(self)
            done = phase.check(self)
        except (PhaseFailed, StandInError) as error:
            return self.fail(phase, str(error))
        if done:
            phase.state, phase.finished = "done", now
            phase.end(self)
            self.summary.say(self, f"phase {phase.name} done in {now - phase.started:.0f} s: {phase.detail}")
            self.tell_gateway_view(with_nodes=phase.name in NODES_AFTER or phase is self.phases[-1])
        elif now - phase.started > phase.timeout:
            return self.fail(phase, f"not done within {phase.timeout:.0f} s: {phase.detail}")
        return True

    def fail(self, phase, why):
        phase.state = "failed"
        phase.end(self)
        self.summary.say(self, f"phase {phase.name} FAILED: {why}")
        self.tell_gateway_view(with_nodes=True)
        return False

    def tell_gateway_view(self, with_nodes):
        """What the daemon itself tells an operator now, through the bus CLI."""
        try:
            lines = gateway_view.status_lines(gateway_view.call("status"), time.time())
            if with_nodes:
                lines += gateway_view.nodes_lines(gateway_view.call("nodes"))
        except gateway_view.OperatorCallFailed as error:
            lines = [str(error)]
        for line in lines:
            self.summary.say(self, line)

    def succeeded(self):
        return all(phase.state == "done" for phase in self.phases)


def sensor_minute_ms(sensors):
    """How long a fold minute lasts for the sensors: as short as the daemon's one report a
    second allows with room to catch up after an outage, and no longer than a real minute
    (the daemon expects each kind within its fold)."""
    three_channel = sensors // 3
    kinds = 2 * (sensors - three_channel) + 4 * three_channel
    return int(min(max(kinds / CLOUD_RATE, 10.0), 60.0) * 1000)


def parse_options(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("daemon", help="the daemon's binary")
    parser.add_argument("--sensors", type=int, default=12, help="simulated sensors (default 12)")
    parser.add_argument("--quick", action="store_true", help="a short outage and a small firmware image")
    parser.add_argument("--log", default="/tmp/quellaron-story.log", help="the daemon's output")
    parser.add_argument("--outage", type=float, help="seconds the cloud refuses connections (default 60, quick 20)")
    parser.add_argument("--list-sensors", action="store_true",
                        help="give every sensor a device entry at the cloud before it joins (each entry costs the "
                             "gateway paced settings messages to the node)")
    options = parser.parse_args(argv)
    if options.sensors < 1:
        parser.error("--sensors must be at least 1")
    options.minute_ms = sensor_minute_ms(options.sensors)
    options.outage_s = options.outage if options.outage is not None else (20.0 if options.quick else 60.0)
    options.firmware_size = 64 if options.quick else 192  # bytes: 4 or 12 blocks
    return options


def prepare_cloud(standins, options):
    """A small sensor image, so serving it block by block (one block every 3 s) fits the story."""
    standins.cloud("PATCH", "/scenario",
                   {"firmware_files": {FIRMWARE_IMAGE: {"image": {"version": "1.0.1-0", "size": options.firmware_size}}}})


def stop_on_sigterm():
    def handler(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, handler)


def main(argv):
    options = parse_options(argv)
    stop_on_sigterm()
    os.makedirs(os.path.dirname(os.path.abspath(options.log)), exist_ok=True)
    standins = StandIns()
    summary = TerminalSummary() if sys.stdout.isatty() else LineSummary()
    world = World(standins, options.log)
    story = Story(options, standins, world, summary)
    daemon = GatewayDaemon(options.daemon, options.log)
    outcome = "ended"
    interrupted = False
    try:
        prepare_cloud(standins, options)
        summary.say(story, f"starting the daemon; its log: {options.log}")
        daemon.start()
        while story.step():
            if not daemon.running():
                phase = story.current_phase()
                if phase:
                    story.fail(phase, f"the daemon ended (status {daemon.exit_status()})")
                break
            summary.show(story)
            time.sleep(1.0)
        summary.show(story)
    except KeyboardInterrupt:
        outcome = "stopped"
        interrupted = True
        phase = story.current_phase()
        if phase:
            phase.end(story)
    except StandInError as error:
        outcome = f"stopped: a stand-in failed ({error})"
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # a second Ctrl-C does not cut the stop short
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
    status = daemon.stop()
    if story.succeeded():
        summary.say(story, f"the story is complete; daemon stopped (exit status {status}); its log: {options.log}")
        return 0
    summary.say(story, f"story {outcome}; daemon stopped (exit status {status}); its log: {options.log}")
    return 130 if interrupted else 1


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except KeyboardInterrupt:
        sys.exit(130)
