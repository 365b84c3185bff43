"""The daemon as the story's child: its output goes to a log file, which is followed line by
line; it is stopped with SIGTERM."""
import os
import re
import signal
import subprocess

_ANSI = re.compile(r"\x1b\[[0-9;]*[A-Za-z]")
_SEVERITY = re.compile(r"^\S+ \S+ (ERROR|FATAL|WARN)\b")


def severity(line):
    """ERROR, FATAL or WARN for such a log line, else None."""
    found = _SEVERITY.match(line)
    return found.group(1) if found else None


class LogFollower:
    """Reads the lines appended to a file since the last call."""

    def __init__(self, path):
        self.path = path
        self.position = 0
        self.partial = b""

    def new_lines(self):
        try:
            with open(self.path, "rb") as log:
                log.seek(self.position)
                chunk = log.read()
        except OSError:
            return []
        self.position += len(chunk)
        data = self.partial + chunk
        *complete, self.partial = data.split(b"\n")
        return [_ANSI.sub("", line.decode("utf-8", "replace")).rstrip("\r") for line in complete]


class GatewayDaemon:
    def __init__(self, binary, log_path):
        self.binary = binary
        self.log_path = log_path
        self.process = None

    def start(self):
        log = open(self.log_path, "ab")  # the child keeps its own copy of the descriptor
        try:
            # A session of its own: Ctrl-C on the terminal reaches the story, which stops the
            # daemon with SIGTERM, rather than the daemon directly. Should the story itself
            # die, the daemon gets SIGTERM too.
            self.process = subprocess.Popen(["setpriv", "--pdeathsig", "TERM", "--", self.binary],
                                            stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                            start_new_session=True)
        finally:
            log.close()

    def running(self):
        return self.process is not None and self.process.poll() is None

    def exit_status(self):
        return None if self.process is None else self.process.poll()

    def stop(self, timeout=30):
        """SIGTERM, then SIGKILL if it has not ended within `timeout` seconds; returns its
        exit status (negative: the signal that ended it)."""
        if self.process is None:
            return None
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        return self.process.returncode
