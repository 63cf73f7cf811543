#!/usr/bin/env python3
"""Drives QEMU's monitor (QMP) from a script. Usage: qmp.py SOCKET SCRIPT

Script lines ($NAME is taken from the environment):
  sleep SECONDS
  wait REGEX LOGFILE SECONDS [COUNT]
                               waits until REGEX appears in LOGFILE (COUNT times,
                               default once); exits 1 after SECONDS
  {"execute": ...}             a QMP command; an error answer exits 1
Exits 0 when every line was carried out."""
import json
import os
import re
import socket
import sys
import time


def connect(path):
    for _ in range(300):
        try:
            s = socket.socket(socket.AF_UNIX)
            s.connect(path)
            return s
        except OSError:
            time.sleep(0.1)
    sys.exit(f"QMP cannot connect to {path}")


def main():
    sock_path, script = sys.argv[1], sys.argv[2]
    stream = connect(sock_path).makefile("rw")

    def send(cmd):
        stream.write(json.dumps(cmd) + "\n")
        stream.flush()
        while True:
            line = stream.readline()
            if not line:
                sys.exit("QMP connection closed")
            msg = json.loads(line)
            if "event" in msg:
                print("QMP event", msg["event"], json.dumps(msg.get("data", {})), flush=True)
                continue
            return msg

    json.loads(stream.readline())  # greeting
    send({"execute": "qmp_capabilities"})
    t0 = time.time()
    for line in open(script):
        line = os.path.expandvars(line.strip())
        if not line or line.startswith("#"):
            continue
        if line.startswith("sleep "):
            time.sleep(float(line[6:]))
            continue
        if line.startswith("wait "):
            _, rx, log, seconds, *count = line.split()
            times = int(count[0]) if count else 1
            end = time.time() + float(seconds)
            while len(re.findall(rx, open(log, errors="replace").read())) < times:
                if time.time() > end:
                    print(f"QMP t={time.time()-t0:.1f} gave up waiting for {rx}", flush=True)
                    sys.exit(1)
                time.sleep(0.2)
            print(f"QMP t={time.time()-t0:.1f} saw {rx}" + (f" ({times} times)" if count else ""),
                  flush=True)
            continue
        cmd = json.loads(line)
        answer = send(cmd)
        print(f"QMP t={time.time()-t0:.1f} >> {json.dumps(cmd)}\nQMP << {json.dumps(answer)}",
              flush=True)
        if "error" in answer:
            sys.exit(1)


if __name__ == "__main__":
    main()
