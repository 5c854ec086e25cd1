#!/usr/bin/python3
# The benchmark's baseline: the plainest poller of the controller, written with pyserial. Once per
# sample it writes the request byte and reads the five-byte answer (50 ms at most), then appends the
# answer as one hex line to OUTPUT. kest-bench measures its wake-ups and CPU beside kestlog's.
# Usage: baseline_poller.py DEVICE OUTPUT [PERIOD_SECONDS]
import sys
import time

import serial

port = serial.Serial(sys.argv[1], 19200, timeout=0.05)
period = float(sys.argv[3]) if len(sys.argv) > 3 else 0.1
with open(sys.argv[2], "w") as out:
    due = time.monotonic()
    while True:
        port.write(b"\x6e")  # the request byte, 110
        out.write(port.read(5).hex() + "\n")
        out.flush()
        due += period
        time.sleep(max(0.0, due - time.monotonic()))
