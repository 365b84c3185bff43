"""What the sandbox benchmarks (bench/gateway-figures, bench/report-figures) share: the release
daemon in its sandbox with the stand-ins, the figures of its process read from /proc, the
stand-ins' set-up files, and the table with the machine it was measured on.

Imported by path (the benchmarks put bench/ first on sys.path); nothing here runs on import."""
import datetime
import json
import os
import platform
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
SANDBOX = REPO / "sim/sandbox/sandbox"
MESH_MODE = REPO / "sim/sandbox/mesh-mode"
WITH_TOKENS = REPO / "sim/sandbox/with-tokens"
CONTROL_TOOL = REPO / "sim/sandbox/tools/control"
DEVICE_ID = "0a1b2c3d4e5f"  # the sandbox settings' gateway id, known to the stand-in cloud
DAEMON = "src/app/quellaron"

# The stand-ins' control clients are the story driver's (sim/story/standins.py).
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, str(REPO / "sim/story"))
from standins import control  # noqa: E402


def now_ms():
    """CLOCK_MONOTONIC in ms, the clock of the stand-ins' records."""
    return time.clock_gettime(time.CLOCK_MONOTONIC) * 1000.0


def say(text):
    print(f"[{time.strftime('%H:%M:%S')}] {text}", file=sys.stderr, flush=True)


def check_build(program, build, needed):
    for path in needed:
        if not (build / path).exists():
            sys.exit(f"{program}: {build / path} is missing (scripts/build first)")


# ---- set-up files --------------------------------------------------------------------------

def plc_id(index, plc=0):
    """The device id of address `index` of PLC `plc` (48 hex digits)."""
    return f"{0xbe0c0000 + (plc << 12) + index:08x}" * 6


def plc_entry(plc, addresses, ip_address):
    """The cloud's list entry of PLC `plc` (ids from 1), its addresses DW200 onwards as
    sensor types w0, w1, ..."""
    return {"id": plc + 1, "name": f"line {plc + 1}", "vendor": "ls", "proto": "fenet", "ip_address": ip_address,
            "base": "0", "slot": "1",
            "plc_addresses": [{"device_id": plc_id(index, plc), "sensor_type": f"w{index}", "addr": f"W.D.{200 + index}"}
                              for index in range(addresses)]}


def plc_memory(addresses, counters):
    """The stand-in PLC's memory for plc_entry's addresses; counters count up once a second."""
    words = [f"DW{200 + index}" for index in range(addresses)]
    return {"values": {word: 100 + index for index, word in enumerate(words)}, "counters": words if counters else []}


def write_setup(directory, plcs, memory, firmware_entries=0):
    """The cloud scenario (the gateway's PLC list `plcs`, sensor firmware of types no node has)
    and the PLC memory file; returns their paths."""
    scenario = {
        "auth": {"approved": True},
        "devices": {DEVICE_ID: {"sensor": {"ble_enabled": False, "sensor_types": []}, "plcs": plcs}},
        "firmware_conf": {
            "url": "https://firmware.example.com/files",
            "sensor": [{"type": str(7 + index), "name": f"bench-node-{7 + index}.bin", "version": "1.0.1-0"}
                       for index in range(firmware_entries)],
            "gateway": []},
        "firmware_files": {f"bench-node-{7 + index}.bin": {"image": {"version": "1.0.1-0", "size": 256}}
                           for index in range(firmware_entries)},
    }
    scenario_path = Path(directory) / "scenario.json"
    setup_path = Path(directory) / "plc-setup.json"
    scenario_path.write_text(json.dumps(scenario, indent=1))
    setup_path.write_text(json.dumps(memory, indent=1))
    return scenario_path, setup_path


# ---- the sandboxed daemon ------------------------------------------------------------------

class Gateway:
    """The daemon in its sandbox; its process id is the daemon's. `prelude` holds shell commands
    run inside the sandbox before the daemon starts (the stand-ins are up by then), one a line."""

    def __init__(self, build, files, mesh, sensors=0, sensor_minute_ms=60000, prelude=(), name="sandbox-figures"):
        self.build = build
        command = [str(SANDBOX), "--build", str(build), "--"]
        if mesh:
            command += [str(MESH_MODE), str(WITH_TOKENS)]
        command += ["/bin/sh", "-c", "\n".join(list(prelude) + ['exec "$0"']), str(build / DAEMON)]
        environment = dict(os.environ)
        environment.update({
            "QUELLARON_CLOUD_SCENARIO": str(files[0]),
            "QUELLARON_PLC_SETUP": str(files[1]),
            "QUELLARON_SENSORS": str(sensors),
            "QUELLARON_SENSOR_MINUTE_MS": str(sensor_minute_ms),
        })
        self.log = tempfile.NamedTemporaryFile(prefix=f"{name}-", suffix=".log", delete=False)
        self.process = subprocess.Popen(command, env=environment, stdout=self.log, stderr=subprocess.STDOUT,
                                        cwd=REPO)
        self.pid = self.process.pid
        self.root = f"/proc/{self.pid}/root"
        self.started_ms = now_ms()

    def alive(self):
        return self.process.poll() is None

    def meshd(self, command):
        return control.line_call(self.root + "/run/sim/meshd.sock", command)

    def bluetoothd(self, command):
        return control.line_call(self.root + "/run/sim/bluetoothd.sock", command)

    def plc(self, socket_name, command):
        return control.line_call(f"{self.root}/run/sim/{socket_name}.sock", command)

    def cloud(self, method, path, body=None):
        return control.cloud_call(self.root, method, path, None if body is None else json.dumps(body))

    def cloud_requests(self):
        return json.loads(self.cloud("GET", "/requests"))

    def output(self):
        return Path(self.log.name).read_text(errors="replace")

    def output_tail(self, lines=30):
        return "\n".join(self.output().splitlines()[-lines:])

    def wait_for(self, what, condition, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not self.alive():
                raise RuntimeError(f"the daemon ended while waiting for {what}:\n{self.output_tail()}")
            try:
                if condition():
                    return
            except (OSError, RuntimeError, ValueError, KeyError):
                pass  # a stand-in not up yet
            time.sleep(0.25)
        raise RuntimeError(f"no {what} within {timeout} s:\n{self.output_tail()}")

    def stop(self):
        if self.alive():
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()
        os.unlink(self.log.name)


def joined_sensors(gateway):
    """(address, id) of the simulated nodes the gateway has asked the cloud about."""
    asked = {r["target"].rsplit("/", 1)[-1] for r in gateway.cloud_requests()
             if r.get("method") == "GET" and "/devices/" in r.get("target", "")}
    sensors = gateway.meshd({"cmd": "sensors"})["sensors"]
    return [(s["address"], s["id"]) for s in sensors if s["id"] in asked]


def sensor_settings_command(fold):
    """A prelude command listing every simulated node at the cloud with its kinds at `fold`."""
    return f"{CONTROL_TOOL} sensor-settings --fold {fold} >/dev/null"


# ---- process figures -----------------------------------------------------------------------

def context_switches(pid):
    total = 0
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            for line in (task / "status").read_text().splitlines():
                if "ctxt_switches" in line:
                    total += int(line.split()[1])
        except OSError:
            pass  # the thread ended meanwhile
    return total


def cpu_seconds(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def private_kib(pid, kinds=("Private_Clean:", "Private_Dirty:")):
    """Private memory in KiB: pages no other process maps (code pages of libraries only this
    process uses count too); with kinds=("Private_Dirty:",) only the written ones."""
    total = 0
    for line in Path(f"/proc/{pid}/smaps_rollup").read_text().splitlines():
        if line.startswith(kinds):
            total += int(line.split()[1])
    return total


def threads(pid):
    return len(os.listdir(f"/proc/{pid}/task"))


def descriptors(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


class ProcessSampler:
    """CPU share and wake-ups (context switches of all threads) of a process from its start,
    and the largest thread and descriptor counts and private memory of the samples taken."""

    def __init__(self, pid):
        self.pid = pid
        self.switches0, self.cpu0, self.start = context_switches(pid), cpu_seconds(pid), time.monotonic()
        self.most = {"threads": 0, "fds": 0, "private": 0, "dirty": 0}

    def sample(self):
        most = self.most
        most["threads"] = max(most["threads"], threads(self.pid))
        most["fds"] = max(most["fds"], descriptors(self.pid))
        most["private"] = max(most["private"], private_kib(self.pid))
        most["dirty"] = max(most["dirty"], private_kib(self.pid, ("Private_Dirty:",)))

    def result(self):
        elapsed = time.monotonic() - self.start
        return {
            "cpu_percent": 100.0 * (cpu_seconds(self.pid) - self.cpu0) / elapsed,
            "wakeups": (context_switches(self.pid) - self.switches0) / elapsed,
            "threads": self.most["threads"],
            "fds": self.most["fds"],
            "private_mib": self.most["private"] / 1024.0,
            "dirty_mib": self.most["dirty"] / 1024.0,
        }


def measure_process(pid, seconds, step=5.0):
    """ProcessSampler's figures over `seconds`, sampled every `step` seconds."""
    sampler = ProcessSampler(pid)
    deadline = sampler.start + seconds
    while True:
        sampler.sample()
        left = deadline - time.monotonic()
        if left <= 0:
            break
        time.sleep(min(step, left))
    return sampler.result()


# ---- the table -----------------------------------------------------------------------------

def machine():
    model = "unknown CPU"
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    return model, os.cpu_count(), platform.release()


def build_type(build):
    for line in (build / "CMakeCache.txt").read_text().splitlines():
        if line.startswith("CMAKE_BUILD_TYPE:"):
            return line.split("=", 1)[1] or "(none)"
    return "unknown"


def run_info(build):
    """The date, machine and build type a run's figures are quoted with."""
    return {"date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
            "machine": machine(), "build_type": build_type(build)}


def title_line(what, info):
    model, cores, kernel = info["machine"]
    return f"{what}, {info['date']}: {model}, {cores} cores, Linux {kernel}, build type {info['build_type']}"


def print_table(header, rows):
    """A Markdown table, its columns padded to their widest cell."""
    widths = [max(len(str(row[i])) for row in rows + [header]) for i in range(len(header))]
    line = "| " + " | ".join(f"{{:{width}}}" for width in widths) + " |"
    print(line.format(*header))
    print("|" + "|".join("-" * (width + 2) for width in widths) + "|")
    for row in rows:
        print(line.format(*(str(cell) for cell in row)))
