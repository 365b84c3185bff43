#!/usr/bin/env python3
"""Summarises the threads' stack depths that tests/support/stack_high_water.cpp recorded.

Each line of the record: program, gtest filter, thread name, started by, bytes used, stack size."""
import collections
import sys

ROUTER_STACK = 128 * 1024


def main(path):
    rows = []
    with open(path, encoding="utf-8", errors="replace") as record:
        for line in record:
            fields = line.rstrip("\n").split("\t")
            if len(fields) == 6:
                program, test, thread, starter, used, size = fields
                rows.append((int(used), int(size), program, test, f"{thread} ({starter})"))
    if not rows:
        print("no thread recorded")
        return
    sizes = collections.Counter(size for _, size, *_ in rows)
    print(f"{len(rows)} threads measured; stack sizes: "
          + ", ".join(f"{size // 1024} KiB x{count}" for size, count in sorted(sizes.items())))
    deepest_by_program = {}
    for row in rows:
        program = row[2]
        if program not in deepest_by_program or row[0] > deepest_by_program[program][0]:
            deepest_by_program[program] = row
    print(f"\n{'deepest':>9} {'of':>8}  program / test / thread")
    for used, size, program, test, thread in sorted(deepest_by_program.values(), reverse=True):
        print(f"{used:>9} {size:>8}  {program} / {test} / {thread}")
    on_router_size = [row for row in rows if row[1] == ROUTER_STACK]
    if on_router_size:
        deepest = max(on_router_size)
        print(f"\ndeepest thread on the router's {ROUTER_STACK // 1024} KiB: {deepest[0]} bytes "
              f"({deepest[0] / 1024:.1f} KiB, {deepest[2]} / {deepest[3]} / {deepest[4]}); "
              f"margin {(ROUTER_STACK - deepest[0]) / 1024:.1f} KiB "
              f"({100 * (ROUTER_STACK - deepest[0]) / ROUTER_STACK:.0f} %)")


if __name__ == "__main__":
    main(sys.argv[1])
