#!/usr/bin/python3
"""A stand-in for `vxupgrade-cli --fleet-child`, for the fleet's tests.

It speaks the child protocol (JSON lines on standard output) and behaves as
--behave ADDRESS=MODE says for its --ip (default "ok"):

  ok      a short run that succeeds (exit 0)
  fail    an error box, a failed record (exit 1)
  ask     the low-space question: declined with --no (exit 3), else ok
  crash   a few events, then SIGSEGV, no record
  killed  a file sent, then SIGKILL in the middle of the next, no record
  usage   a usage error on standard error, exit 2, no record
  liar    a record that says succeeded, exit 1
  noisy   a line that is not JSON, a line on standard error, then a record
          written without its final line break
  hang    waits for SIGTERM, then writes a stopped record (exit 1)
  deaf    ignores SIGTERM and waits; only SIGKILL ends it
  gate    leaves a marker in --gate DIR while it runs, says how many
          markers it saw at its start, and waits for DIR/release

Every wait is bounded (60 s), so a broken test leaves nothing behind.
"""
import argparse
import json
import os
import signal
import sys
import time

BOUND = 60.0


def emit(key, value):
    sys.stdout.write(json.dumps({key: value}) + "\n")
    sys.stdout.flush()


def record(args, outcome, message, bytes_sent=0):
    emit("record", {"address": args.ip, "identity": "FAKE,VX900," + args.ip, "outcome": outcome,
                    "step": "done", "message": message, "bytes": bytes_sent, "seconds": 0.1})


def wait_until(condition):
    deadline = time.monotonic() + BOUND
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.01)
    return condition()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--fleet-child", action="store_true", required=True)
    parser.add_argument("--ip", required=True)
    parser.add_argument("--dir")
    parser.add_argument("--yes", action="store_true")
    parser.add_argument("--no", action="store_true")
    parser.add_argument("--behave", action="append", default=[])
    parser.add_argument("--gate")
    args = parser.parse_args()
    modes = dict(item.split("=", 1) for item in args.behave)
    mode = modes.get(args.ip, "ok")

    emit("memo", "args " + " ".join(sys.argv[1:]))
    emit("step", {"name": "connecting"})
    emit("identity", "FAKE,VX900," + args.ip)
    if mode == "ask":
        answer = "yes" if args.yes else "no"
        emit("box", {"kind": "question", "caption": "vxUpgrade", "text": "Low space.\nGo on?", "answer": answer})
        if answer == "no":
            record(args, "declined", "declined at the low-space question")
            sys.exit(3)
    elif mode == "fail":
        emit("box", {"kind": "error", "caption": "vxUpgrade", "text": "Upload failed"})
        record(args, "failed", "Fail to download F/W !")
        sys.exit(1)
    elif mode == "crash":
        emit("step", {"name": "module", "detail": "KRN3"})
        os.kill(os.getpid(), signal.SIGSEGV)
    elif mode == "killed":
        emit("step", {"name": "module", "detail": "KRN3"})
        emit("file", {"path": "/F0:/KRN3/a.bin", "size": 4096, "outcome": "sent-verified"})
        emit("progress", {"done": 6144, "total": 8192, "file": "/F0:/KRN3/b.bin"})
        os.kill(os.getpid(), signal.SIGKILL)
    elif mode == "usage":
        sys.stderr.write("vxupgrade-cli: --signals: XYZ has no check box\n")
        sys.exit(2)
    elif mode == "liar":
        record(args, "succeeded", "all well")
        sys.exit(1)
    elif mode == "noisy":
        sys.stdout.write("not a protocol line\n")
        sys.stdout.flush()
        sys.stderr.write("a warning on standard error\n")
        sys.stderr.flush()
        sys.stdout.write(json.dumps({"record": {"address": args.ip, "outcome": "succeeded", "message": "",
                                                "bytes": 5}}))
        sys.stdout.flush()
        sys.exit(0)
    elif mode in ("hang", "deaf"):
        stopped = []
        if mode == "hang":
            signal.signal(signal.SIGTERM, lambda *_: stopped.append(True))
        else:
            signal.signal(signal.SIGTERM, signal.SIG_IGN)
        emit("step", {"name": "module", "detail": "KRN3"})
        emit("memo", "waiting")
        wait_until(lambda: stopped)
        record(args, "stopped", "stopped by the operator")
        sys.exit(1)
    elif mode == "gate":
        marker = os.path.join(args.gate, args.ip + ".run")
        open(marker, "w").close()
        running = len([name for name in os.listdir(args.gate) if name.endswith(".run")])
        emit("memo", "running %d" % running)
        released = wait_until(lambda: os.path.exists(os.path.join(args.gate, "release")))
        os.remove(marker)
        if not released:
            record(args, "failed", "never released")
            sys.exit(1)

    emit("step", {"name": "module", "detail": "KRN3"})
    emit("progress", {"done": 0, "total": 8192, "file": "/F0:/KRN3/a.bin"})
    emit("progress", {"done": 8192, "total": 8192, "file": "/F0:/KRN3/b.bin"})
    emit("file", {"path": "/F0:/KRN3/a.bin", "size": 4096, "outcome": "sent-verified"})
    emit("file", {"path": "/F0:/KRN3/b.bin", "size": 4096, "outcome": "sent-not-verifiable"})
    emit("memo", "Please reboot the instrument")
    record(args, "succeeded", "", 8192)
    sys.exit(0)


if __name__ == "__main__":
    main()
