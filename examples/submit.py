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
With more than one writer per slot, every one of them must claim the slot as
this client does (claim_slot): an exclusive lock on byte 0 of ~KBCLAIM.00n,
held from writing the job to removing its results. `kolibra submit` and
Submit.cs take the same lock.
Python 3 standard library only; the same on Linux and Windows.
"""
import argparse, errno, os, sys, time

if os.name == "nt":
    import msvcrt
else:
    import fcntl

PRINTED, NOT_PRINTED, USAGE, UNCERTAIN, TIMED_OUT = 0, 1, 2, 3, 4
CHECK_S = 0.1  # how often the job files are looked at


def wait_until(done, deadline):
    """True once done() holds; False when the deadline passes first."""
    while not done():
        if time.monotonic() >= deadline:
            return False
        time.sleep(CHECK_S)
    return True


def claim_slot(path):
    """The open claim file, locked (the lock lasts while it stays open, and
    the system drops it if this process dies); None while another client
    holds it. Record locks (fcntl) on POSIX, LockFile on Windows: the kinds
    `kolibra submit` and Submit.cs take."""
    flags = os.O_RDWR | os.O_CREAT | getattr(os, "O_NOFOLLOW", 0) | getattr(os, "O_BINARY", 0)
    fd = os.open(path, flags, 0o666)
    try:
        if os.name == "nt":
            msvcrt.locking(fd, msvcrt.LK_NBLCK, 1)  # byte 0: a new file is at 0
            return fd
        st = os.fstat(fd)
        if st.st_uid == os.geteuid():  # every client of the group opens it to lock it
            os.fchmod(fd, (st.st_mode & 0o7777) | 0o060)
        fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, 0)
        named = os.stat(path, follow_symlinks=False)
        if (named.st_dev, named.st_ino) == (st.st_dev, st.st_ino):
            return fd
    except FileNotFoundError:  # removed meanwhile: try again
        pass
    except OSError as e:  # held by another client
        if os.name != "nt" and e.errno not in (errno.EACCES, errno.EAGAIN):
            os.close(fd)
            raise
    os.close(fd)
    return None


def write_whole(path, data):
    """Writes under a temporary name of its own, then renames: the driver
    never sees a part of the file, and no other writer shares the name. (Do
    not use names beginning with ~KB: the driver's.) Readable by the data
    folder's group (the driver's) whatever the umask."""
    temp = "%s.%s.tmp" % (path, os.urandom(8).hex())
    fd = os.open(temp, os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_BINARY", 0), 0o666)
    with os.fdopen(fd, "wb") as f:
        if os.name != "nt":
            os.fchmod(fd, (os.fstat(fd).st_mode & 0o7777) | 0o040)
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    os.replace(temp, path)


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
    # 0. Claim the slot for the whole cycle: another client waits meanwhile,
    #    so it neither replaces our files nor removes our results unread.
    claim_path, claim = job_file("~KBCLAIM"), [None]

    def claimed():
        claim[0] = claim_slot(claim_path)  # kept open until the process ends
        return claim[0] is not None

    try:
        got_it = wait_until(claimed, deadline)
    except OSError as e:
        print("job not sent, cannot use %s: %s" % (claim_path, e.strerror), file=sys.stderr)
        return NOT_PRINTED
    if not got_it:
        print("slot busy: job not sent, send it again", file=sys.stderr)
        return NOT_PRINTED
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
        code = UNCERTAIN if line.startswith("E520") else NOT_PRINTED
    else:
        print("finesco")
        if os.path.exists(out):  # the receipt's time, date and number
            with open(out, "rb") as f:
                print(f.read().decode("cp1252").replace("\r\n", "\n"), end="")
        code = PRINTED
    # 6. Remove the results read, then let the claim go (at exit).
    for done in (fin, err, out):
        if os.path.exists(done):
            os.remove(done)
    return code


if __name__ == "__main__":
    sys.exit(main())
