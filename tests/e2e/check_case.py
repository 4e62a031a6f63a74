#!/usr/bin/env python3
"""Plays one end-to-end case: padprobe.exe under Wine against the simulated
driver, then compares console bytes, exit status and the driver's journal
with what the case file expects.

Case file, one directive a line (a line starting with '#' is a comment):
  set KEY = VALUE            a scenario line for the simulated driver
  second DELAY_MS            start a second padprobe.exe while the first runs
  exit N                     expected Linux exit status of the (first) run
  console ITEM               next piece of the expected console output:
      line TEXT              TEXT with \\r and \\n escapes
      dump B0 .. B9          a receive dump line of these hex bytes
      dump-descriptor        the dump of the simulated Palvero descriptor
      dump-zero              the dump of a read that delivered nothing
      retry N                the retry line of attempt N
      each A-B ITEM          ITEM then the retry line, for attempts A..B
      report palvero PID VID MAJOR.MINOR | report other PID VID | report none
  second-console ITEM        the same, for the second run
  second-exit N
  requests K1 K2*N (K3,K4)*N ...   kinds of the requests reaching the driver, in order
  journal-has TEXT           a journal event (time stamp and handle stripped) is present
  journal-lacks TEXT         no journal event contains TEXT
  gap-at-least MS FROM | TO  at least MS between the first event starting FROM and
                             the next event starting TO
  wall-at-most S             the run took at most S seconds
"""
import os
import re
import subprocess
import sys
import time

DESCRIPTOR = bytes.fromhex(
    "1e0000016a0121002200200023001100050006005a240a00c30500000000")


def dump(values):
    values = (list(values) + [0] * 10)[:10]
    return "rec_buf[] is :" + "".join("%2x " % v for v in values) + "\n"


def retry(n):
    return "Retry GetTouchpadVersion %d" % n + "." * 53 + "\n"


def report(words):
    frame = "*" * 78 + "\n"
    kind = words[0]
    if kind == "palvero":
        pid, vid, fw = words[1], words[2], words[3]
        body = ("*" * 27 + "Detected palvero touchpad!" + "*" * 25 + "\n" +
                "*" * 27 + "PID:0x%s  VID:0x%s" % (pid, vid) + "*" * 29 + "\n" +
                "*" * 27 + "Firmware version:%s" % fw + "*" * 29 + "\n")
    elif kind == "other":
        body = ("*" * 28 + "Detected other touchpad!" + "*" * 26 + "\n" +
                "*" * 28 + "PID:0x%s  VID:0x%s" % (words[1], words[2]) + "*" * 27 + "\n" +
                frame)
    elif kind == "none":
        body = ("*" * 25 + "Can't detected touchpad!" + "*" * 29 + "\n" +
                "*" * 25 + "Get firmware version fail!" + "*" * 27 + "\n" + frame)
    else:
        raise ValueError("unknown report " + kind)
    return frame + frame + body + frame + frame


def console_item(words):
    head, rest = words[0], words[1:]
    if head == "line":
        return " ".join(rest).encode().decode("unicode_escape")
    if head == "dump":
        return dump(int(w, 16) for w in rest)
    if head == "dump-descriptor":
        return dump(DESCRIPTOR)
    if head == "dump-zero":
        return dump([])
    if head == "retry":
        return retry(int(rest[0]))
    if head == "each":
        first, last = (int(x) for x in rest[0].split("-"))
        return "".join(console_item(rest[1:]) + retry(n) for n in range(first, last + 1))
    if head == "report":
        return report(rest)
    raise ValueError("unknown console item " + head)


def windows_text(text):
    # A text-mode stream writes every "\n" as "\r\n".
    return text.replace("\n", "\r\n").encode("ascii")


def expand_requests(words):
    kinds = []
    for w in words:
        m = re.fullmatch(r"\(?([\w,-]+?)\)?(?:\*(\d+))?", w)
        group = m.group(1).split(",")
        kinds += group * int(m.group(2) or 1)
    return kinds


def events(journal):
    out = []
    for line in journal.splitlines():
        m = re.match(r"t=([0-9.]+) h=\d+ (.*)", line)
        if m:
            out.append((float(m.group(1)), m.group(2)))
    return out


def main():
    args = dict(zip(sys.argv[1::2], sys.argv[2::2]))
    case_file, out = args["--case"], args["--out"]
    sets, checks = [], []
    expect = {"console": "", "second-console": "", "exit": None, "second-exit": None}
    second = None
    with open(case_file) as f:
        for raw in f:
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            word, _, rest = line.partition(" ")
            if word == "set":
                sets.append(rest)
            elif word == "second":
                second = rest
            elif word in ("exit", "second-exit"):
                expect[word] = int(rest)
            elif word in ("console", "second-console"):
                expect[word] += console_item(rest.split(" ") if rest.startswith("line ")
                                             else rest.split())
            else:
                checks.append((word, rest))

    cmd = [args["--run"], "--prefix", args["--prefix"], "--bin", args["--bin"],
           "--exe", args["--exe"], "--out", out, "--timeout", "40"]
    for s in sets:
        cmd += ["--set", s]
    if second:
        cmd += ["--second", second]
    start = time.monotonic()
    run = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    wall = time.monotonic() - start
    if run.returncode != 0:
        print("runner failed (%d):\n%s%s" % (run.returncode, run.stdout, run.stderr))
        return 1

    failures = []

    def compare(label, folder, console_key, exit_key):
        with open(os.path.join(folder, "console.txt"), "rb") as f:
            got = f.read()
        want = windows_text(expect[console_key])
        if got != want:
            failures.append("%s console differs\n--- expected\n%r\n--- got\n%r" % (label, want, got))
        with open(os.path.join(folder, "exit_code")) as f:
            status = f.read().strip()
        if expect[exit_key] is not None and status != str(expect[exit_key]):
            failures.append("%s exit status %s, expected %d" % (label, status, expect[exit_key]))

    compare("first run", out, "console", "exit")
    if second:
        compare("second run", os.path.join(out, "second"), "second-console", "second-exit")

    with open(os.path.join(out, "journal.txt")) as f:
        journal = events(f.read())
    texts = [e for _, e in journal]
    for word, rest in checks:
        if word == "requests":
            want = expand_requests(rest.split())
            got = [e.split()[1].split("#")[0] for e in texts if e.startswith("recv ")]
            if got != want:
                failures.append("requests %s, expected %s" % (got, want))
        elif word == "journal-has":
            if rest not in texts:
                failures.append("journal lacks '%s'" % rest)
        elif word == "journal-lacks":
            if any(rest in e for e in texts):
                failures.append("journal has '%s'" % rest)
        elif word == "gap-at-least":
            ms, _, span = rest.partition(" ")
            a, b = (x.strip() for x in span.split("|"))
            b_prefix = b
            t_a = next((t for t, e in journal if e.startswith(a)), None)
            t_b = next((t for t, e in journal if t_a is not None and t >= t_a
                        and e.startswith(b_prefix)), None)
            if t_a is None or t_b is None:
                failures.append("gap %s -> %s: events missing" % (a, b))
            elif t_b - t_a < float(ms):
                failures.append("gap %s -> %s is %.3f ms, expected at least %s" % (a, b, t_b - t_a, ms))
        elif word == "wall-at-most":
            if wall > float(rest):
                failures.append("run took %.1f s, expected at most %s" % (wall, rest))
        else:
            failures.append("unknown directive " + word)

    if failures:
        print("case %s failed:" % case_file)
        for f in failures:
            print("- " + f)
        print("journal:")
        print("\n".join(texts))
        return 1
    print("case %s passed (%.1f s)" % (os.path.basename(case_file), wall))
    return 0


if __name__ == "__main__":
    sys.exit(main())
