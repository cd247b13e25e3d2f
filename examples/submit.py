#!/usr/bin/env python3
"""Send one command file to the kolibra driver and wait for its result:
    python3 submit.py --data-dir DIR --slot N [--timeout S] FILE
Exit codes (the same as `kolibra submit`):
  0 printed       FINESCO.00n: "finesco" and the lines of SR_OUT.00n on stdout
  1 not printed   SR_ERR.00n's line on stderr (E521 too: safe to send again),
                  or the job was never sent (the slot stayed busy)
  2 bad usage
  3 uncertain     E520: check the ECR's last receipt before sending again
  4 timed out     SR_START.00n is still there: the job may still run
Python 3 standard library only; the same on Linux and Windows.
"""
import argparse, os, sys, time

PRINTED, NOT_PRINTED, USAGE, UNCERTAIN, TIMED_OUT = 0, 1, 2, 3, 4
CHECK_S = 0.1  # how often the job files are looked at


def wait_until(done, deadline):
    """True once done() holds; False when the deadline passes first."""
    while not done():
        if time.monotonic() >= deadline:
            return False
        time.sleep(CHECK_S)
    return True


def write_whole(path, data):
    """Writes under a temporary name, then renames: the driver never sees a
    part of the file. (Do not use names beginning with ~KB: the driver's.)"""
    with open(path + ".tmp", "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    os.replace(path + ".tmp", path)


def main():
    p = argparse.ArgumentParser(description="Send a command file to kolibra.")
    p.add_argument("--data-dir", default=".")  # the driver's data folder
    p.add_argument("--slot", type=int, default=1, choices=range(1, 5))
    p.add_argument("--timeout", type=float, default=120)  # seconds
    p.add_argument("file")
    args = p.parse_args()  # bad usage: message and exit code 2
    try:
        with open(args.file, "rb") as f:
            commands = f.read()  # bytes: Windows-1252 text, CR LF lines
    except OSError as e:
        p.error("cannot read %s: %s" % (args.file, e.strerror))

    def job_file(base):  # SR_START.001 and so on
        return os.path.join(args.data_dir, "%s.%03d" % (base, args.slot))

    start, err, fin, out = (job_file(b) for b in ("SR_START", "SR_ERR", "FINESCO", "SR_OUT"))
    deadline = time.monotonic() + args.timeout
    # 1. Wait until the slot is free: a start file means a job runs or waits.
    if not wait_until(lambda: not os.path.exists(start), deadline):
        print("slot busy: job not sent, send it again", file=sys.stderr)
        return NOT_PRINTED
    # 2. Clear old results, so that they are never read as this job's.
    for old in (fin, err, out):
        if os.path.exists(old):
            os.remove(old)
    # 3. The command file, whole, then the start file: the job is handed over.
    write_whole(job_file("SR_DATI"), commands)
    write_whole(start, b"1\r\n")
    # 4. The driver removes the start file once the result file is in place.
    if not wait_until(lambda: not os.path.exists(start), deadline):
        print("timed out with the start file still there: the job may still run", file=sys.stderr)
        return TIMED_OUT
    grace = max(deadline, time.monotonic() + 2)
    if not wait_until(lambda: os.path.exists(err) or os.path.exists(fin), grace):
        print("start file gone without a result: uncertain, check the ECR", file=sys.stderr)
        return UNCERTAIN
    # 5. Read the result. Result files appear whole (renamed into place).
    if os.path.exists(err):
        with open(err, "rb") as f:
            line = (f.read().decode("cp1252").splitlines() or ["E520: unreadable"])[0]
        print(line, file=sys.stderr)
        return UNCERTAIN if line.startswith("E520") else NOT_PRINTED
    print("finesco")
    if os.path.exists(out):  # the receipt's time, date and number
        with open(out, "rb") as f:
            print(f.read().decode("cp1252").replace("\r\n", "\n"), end="")
    return PRINTED


if __name__ == "__main__":
    sys.exit(main())
