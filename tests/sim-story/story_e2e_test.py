"""The run command's story in its short form (two sensors, a 20 s outage, a small firmware
image), its output not a terminal: the story reaches its end with every phase reported done,
each followed by what `ubus call quellaron status` tells (and `nodes` after the sensors and at
the end), and the daemon stopped cleanly. About three minutes."""
import os
import subprocess
import sys
import tempfile

PHASES = ["boot", "provisioning", "mesh", "sensors", "settings", "plc", "firmware", "outage"]


def main():
    build = os.environ["QUELLARON_BUILD_DIR"]
    source = os.environ["QUELLARON_SOURCE_DIR"]
    with tempfile.TemporaryDirectory() as directory:
        log = os.path.join(directory, "quellaron.log")
        command = ["/bin/bash", os.path.join(source, "sim/sandbox/sandbox"), "--build", build, "--",
                   "python3", "-B", os.path.join(source, "sim/story/story.py"), "--sensors", "2", "--quick",
                   "--log", log, os.path.join(build, "src/app/quellaron")]
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=270)
        print(result.stdout)
        problems = [f"phase {name} not reported done" for name in PHASES
                    if f"phase {name} done in" not in result.stdout]
        views = result.stdout.count("ubus call quellaron status: version ")
        if views < len(PHASES):
            problems.append(f"the daemon's status shown {views} times, not after each of the {len(PHASES)} phases")
        if result.stdout.count("ubus call quellaron nodes: 2 node(s)") < 2:
            problems.append("the daemon's two nodes not shown after the sensors phase and at the end")
        if result.returncode != 0:
            problems.append(f"the story ended with status {result.returncode}")
        if "the story is complete; daemon stopped (exit status 0)" not in result.stdout:
            problems.append("no clean end reported")
        if not os.path.getsize(log):
            problems.append("the daemon's log is empty")
        if problems:
            with open(log, errors="replace") as text:
                print("--- daemon log, last lines ---\n" + "".join(text.readlines()[-60:]))
            print("\n".join(problems))
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
