"""What the daemon tells an operator about itself: `ubus call quellaron status` and `nodes`
through the project's bus CLI, and their digests for the story's output."""
import json
import subprocess

UBUS_CLI = "/usr/local/bin/ubus"


class OperatorCallFailed(RuntimeError):
    pass


def call(method):
    """The document of `ubus call quellaron <method>`; run inside the sandbox."""
    command = [UBUS_CLI, "call", "quellaron", method]
    try:
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=10)
    except (OSError, subprocess.TimeoutExpired) as error:
        raise OperatorCallFailed(f"ubus call quellaron {method}: {error}") from error
    if result.returncode != 0:
        raise OperatorCallFailed(f"ubus call quellaron {method}: {result.stderr.strip() or result.returncode}")
    try:
        return json.loads(result.stdout)
    except ValueError as error:
        raise OperatorCallFailed(f"ubus call quellaron {method}: not JSON ({error})") from error


def _ago(seconds):
    return "never" if seconds is None else f"{seconds} s ago"


def status_lines(status, now):
    """The status document in three lines; `now` is the Unix time its times are read against."""
    cloud = status["cloud"]
    reports = cloud["reports"]
    delivered_at = cloud.get("last_delivery")
    last = "none yet" if delivered_at is None else _ago(max(int(now - delivered_at), 0))
    mesh = status["mesh"]
    joined = f"joined as {mesh['address']:04x}" if mesh.get("joined") and mesh.get("address") else "not joined"
    plcs = status["plcs"]
    firmware = status["firmware"]
    return [
        f"ubus call quellaron status: version {status['version']}, up {status['uptime']} s, mode {status['mode']}, "
        f"WAN {'up' if status['wan']['up'] else 'down'}",
        f"  cloud: {'authorised' if cloud['authorised'] else 'not authorised'}, websocket {cloud['websocket']}, "
        f"last delivery {last}; reports {reports['delivered']} delivered, {reports['pending']} pending, "
        f"{reports['overwritten']} overwritten, {reports['refused']} refused",
        f"  mesh {joined}, {mesh['nodes']} nodes | PLCs {plcs['answering']}/{plcs['configured']} answering | "
        f"firmware: {'downloading, ' if firmware['downloading'] else ''}{firmware['sessions']} session(s)",
    ]


NODE_COLUMNS = "  {:<4}  {:>2}  {:<14}  {:>5}  {:<10}  {:>5}  {:<16}  {:<9}  {}"


def _acknowledged(node):
    acknowledged = node.get("acknowledged") or {}
    marks = {True: "yes", False: "no", None: "-"}
    return f"{marks[acknowledged.get('folds')]}/{marks[acknowledged.get('beacon')]}"


def nodes_lines(document):
    """The nodes document as a table: one row per node."""
    nodes = document["nodes"]
    lines = [f"ubus call quellaron nodes: {len(nodes)} node(s)"]
    if not nodes:
        return lines
    lines.append(NODE_COLUMNS.format("addr", "ch", "id", "type", "version", "seen", "folds (min)", "acks f/b",
                                     "last reports (s ago)"))
    for node in nodes:
        folds = node.get("folds") or {}
        reports = node.get("last_report") or {}
        lines.append(NODE_COLUMNS.format(
            f"{node['address']:04x}", node["channel"], node["id"], node["type"], node.get("version") or "?",
            node["last_seen"], ",".join(f"{kind}:{minutes}" for kind, minutes in folds.items()) or "-",
            _acknowledged(node) + (" pending" if node.get("pending_settings") else ""),
            ",".join(f"{kind}:{ago}" for kind, ago in reports.items()) or "-"))
    return lines
