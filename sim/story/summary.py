"""The live summary: on a terminal a block redrawn in place (plain ANSI), otherwise lines
printed as things happen."""
import shutil
import sys
import time

MARKS = {"waiting": "·", "running": ">", "done": "+", "failed": "!"}


def clock(seconds):
    return f"{int(seconds) // 60:02d}:{int(seconds) % 60:02d}"


def shorten(text, width):
    return text if len(text) <= width else text[: max(width - 1, 0)] + "~"


def sessions_line(world):
    phone = world.phone or {}
    adapter = phone.get("adapter") or {}
    if world.bluetoothd_busy:
        ble = "phone provisioning"
    elif adapter.get("application"):
        ble = "phone " + ("connected" if (phone.get("phone") or {}).get("connected") else "may connect") + " (advertising)"
    elif world.mesh_nodes:
        ble = "BLE service withdrawn"
    else:
        ble = "no BLE service yet"
    node = world.attached_node()
    mesh = f"mesh node {node.get('unicast', 0):04x} attached" if node else (
        "mesh node joined" if world.mesh_nodes else "no mesh node")
    channels = world.open_channels()
    subscriptions = sum(len(connection.get("subscriptions", [])) for connection in channels)
    channel = f"websocket open ({subscriptions} subscriptions)" if channels else "websocket closed"
    cloud = "cloud REFUSING" if world.refusing else "cloud accepting"
    return f"Sessions: {ble} | {mesh} | {channel} | {cloud}"


NODE_COLUMNS = "  {:<4}  {:<12}  {:>5}  {:<7}  {:>5}  {:>5}  {:<14}  {:>4}  {:<6}  {}"


def node_header():
    return NODE_COLUMNS.format("addr", "id", "chans", "state", "sent", "cloud", "folds (min)", "acks", "beacon",
                               "firmware")


def node_rows(world):
    rows = []
    for sensor in world.sensors:
        firmware = sensor.get("firmware", {})
        if sensor.get("installed"):
            state_of_firmware = "v" + sensor["installed"][-1]
        elif firmware.get("active"):
            state_of_firmware = f"{firmware.get('next_block', 0)}/{firmware.get('blocks', 0)} blocks"
        else:
            state_of_firmware = "v" + sensor.get("version", "?")
        channels = sensor.get("channels", {})
        folds = channels.get("0", {}).get("folds", {})
        acknowledged = sum(channel.get("folds_acknowledged", 0) for channel in channels.values())
        state = "joined" if sensor.get("gateway") else "unheard"
        if sensor.get("faults", {}).get("silent"):
            state = "silent"
        rows.append(NODE_COLUMNS.format(
            f"{sensor.get('address', 0):04x}", sensor.get("id", "?"), len(channels), state,
            sensor.get("reports_sent", 0), world.sensor_received(sensor),
            ",".join(f"{kind}:{minutes}" for kind, minutes in folds.items()), acknowledged,
            "on" if sensor.get("beacon_enabled") else "off", state_of_firmware))
    return rows


def plc_lines(world):
    lines = []
    plc = world.plc_status or {}
    power = "on" if plc.get("power", True) else "off"
    for device_id, (name, kind, address) in sorted(world.plc_values.items(), key=lambda item: item[1]):
        count = world.readings.count[device_id]
        last = world.readings.last.get(device_id, "-")
        lines.append(f"  {name} {kind:<6} {address:<10} {count:>4} readings, last {last}")
    if lines:
        lines.insert(0, f"PLC values the cloud received (PLC power {power}):")
    return lines


def block(story, width, height):
    world = story.world
    elapsed = time.monotonic() - story.started
    current = story.current_phase()
    lines = [
        shorten(f"quellaron gateway story  {clock(elapsed)}  "
                f"phase: {current.name + ' - ' + current.title if current else 'ending'}", width),
        shorten("Phases: " + "  ".join(f"{MARKS[phase.state]}{phase.name}" for phase in story.phases), width),
    ]
    if current and current.detail:
        lines.append(shorten(f"  {current.detail}", width))
    lines.append(shorten(f"LED: {world.led.looks()}", width))
    lines.append(shorten(sessions_line(world), width))
    sent, received = world.sensors_sent(), world.sensors_received()
    lines.append(shorten(f"Cloud received: {world.readings.total()} readings ({received} of {sent} the sensors sent), "
                         f"{world.readings.heartbeats} heartbeats", width))
    rows = node_rows(world)
    plc = plc_lines(world)
    errors = [f"  {line}" for line in world.errors]
    fixed = len(lines) + 2 + len(plc) + 1 + len(errors) + 1
    room = max(height - fixed - 1, 3)
    if rows:
        lines.append(f"Sensors ({len(rows)}), what each sent and what the cloud received:")
        lines.append(shorten(node_header(), width))
        shown = rows if len(rows) <= room else rows[: room - 1] + [f"  ... {len(rows) - room + 1} more"]
        lines.extend(shorten(row, width) for row in shown)
    lines.extend(shorten(line, width) for line in plc)
    lines.append(f"Errors in the daemon's log: {world.error_count}" + (" (latest below)" if errors else "") +
                 f"; routine lines it logs at error level (sends, acknowledgements): {world.routine_errors}")
    lines.extend(shorten(line, width) for line in errors)
    lines.append(shorten(f"Daemon log: {story.log_path}", width))
    return lines


class TerminalSummary:
    """Redraws the block in place."""

    def __init__(self, out=sys.stdout):
        self.out = out
        self.drawn = 0

    def show(self, story):
        size = shutil.get_terminal_size((120, 40))
        lines = block(story, size.columns - 1, size.lines)
        text = ""
        if self.drawn:
            text += f"\x1b[{self.drawn}F"
        text += "".join(f"{line}\x1b[K\n" for line in lines) + "\x1b[J"
        self.out.write(text)
        self.out.flush()
        self.drawn = len(lines)

    def say(self, story, text):
        """A line that stays above the block."""
        if self.drawn:
            self.out.write(f"\x1b[{self.drawn}F\x1b[J")
            self.drawn = 0
        self.out.write(text + "\n")
        self.show(story)


class LineSummary:
    """For output that is not a terminal: phase changes, error lines as they appear, and a
    status line every `every` seconds."""

    def __init__(self, out=sys.stdout, every=15.0):
        self.out = out
        self.every = every
        self.last = 0.0

    def show(self, story):
        world = story.world
        for line in world.new_errors:
            self.out.write(f"[{clock(time.monotonic() - story.started)}] daemon error: {line}\n")
        now = time.monotonic()
        if now - self.last >= self.every:
            self.last = now
            current = story.current_phase()
            joined = sum(1 for sensor in world.sensors if sensor.get("gateway"))
            self.out.write(
                f"[{clock(now - story.started)}] {current.name if current else 'end'}: "
                f"{current.detail if current else ''} | LED {world.led.looks()} | "
                f"{joined}/{len(world.sensors)} sensors joined | cloud {world.readings.total()} readings"
                f"{' | cloud refusing' if world.refusing else ''}\n")
        self.out.flush()

    def say(self, story, text):
        self.out.write(f"[{clock(time.monotonic() - story.started)}] {text}\n")
        self.out.flush()
