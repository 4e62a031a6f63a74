#!/usr/bin/env python3
"""Runs cpack into a fresh folder and checks the release zip: its name, that
it holds exactly padprobe.exe (the one just built) and readme.txt (the
configured one, with Windows line ends).

  check_package.py --cpack CPACK --config CPackConfig.cmake --zip NAME
                   --exe EXE --version VERSION
"""
import os
import subprocess
import sys
import tempfile
import zipfile


def main(argv):
    opts = dict(zip(argv[::2], argv[1::2]))
    failures = []
    with tempfile.TemporaryDirectory(prefix="padprobe-cpack-") as out:
        run = subprocess.run([opts["--cpack"], "-G", "ZIP", "--config", opts["--config"], "-B", out],
                             capture_output=True, text=True)
        if run.returncode != 0:
            print("cpack failed (%d):\n%s%s" % (run.returncode, run.stdout, run.stderr))
            return 1
        zips = sorted(f for f in os.listdir(out) if f.endswith(".zip"))
        if zips != [opts["--zip"]]:
            print("FAIL: cpack made %s, expected %s" % (zips, opts["--zip"]))
            return 1
        with zipfile.ZipFile(os.path.join(out, zips[0])) as z:
            names = sorted(z.namelist())
            if names != ["padprobe.exe", "readme.txt"]:
                failures.append("zip holds %s, expected padprobe.exe and readme.txt" % names)
            else:
                with open(opts["--exe"], "rb") as f:
                    if z.read("padprobe.exe") != f.read():
                        failures.append("padprobe.exe in the zip is not the one built")
                readme = z.read("readme.txt")
                title = b"padprobe " + opts["--version"].encode() + b"\r\n"
                if not readme.startswith(title):
                    failures.append("readme.txt starts %r, expected %r" % (readme[:40], title))
                bare = readme.replace(b"\r\n", b"")
                if b"\r" in bare or b"\n" in bare:
                    failures.append("readme.txt has line ends other than CR LF")
                if any(b > 0x7E or (b < 0x20 and b not in (0x0D, 0x0A)) for b in readme):
                    failures.append("readme.txt is not plain ASCII text")
    for f in failures:
        print("FAIL: " + f)
    if not failures:
        print("%s: padprobe.exe and readme.txt as expected" % opts["--zip"])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
