#!/usr/bin/python3
"""Decodes every hostile mail of tests/mail/hostile_mail.py, each in a process
of its own, at three scales, and prints the time and peak memory of each
against the limits (2 s and 200 MB a mail) and how the time grows from one
scale to the next (about 2 when the work is linear in the mail's size).

    hostile.py LUMORA_DECODE [--scales 0.5 1 2]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
GENERATOR = os.path.join(HERE, "..", "tests", "mail", "hostile_mail.py")
LIMIT_S, LIMIT_MB = 2.0, 200.0


def run(decode, mail, work):
    folder = tempfile.mkdtemp(dir=work)
    start = time.monotonic()
    process = subprocess.Popen([decode, mail, folder], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
    out = process.stdout.read().decode(errors="replace")
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.monotonic() - start
    shutil.rmtree(folder, ignore_errors=True)
    return elapsed, usage.ru_maxrss / 1024, os.waitstatus_to_exitcode(status), out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("decode")
    parser.add_argument("--scales", type=float, nargs="+", default=[0.5, 1, 2])
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="lumora-hostile-")
    over = 0
    try:
        results = {}
        for scale in args.scales:
            folder = os.path.join(work, "scale-%g" % scale)
            subprocess.run(["/usr/bin/python3", GENERATOR, folder, "--scale", str(scale)],
                           check=True)
            for name in sorted(os.listdir(folder)):
                path = os.path.join(folder, name)
                elapsed, peak, code, out = run(args.decode, path, work)
                results[(name, scale)] = elapsed
                flag = ""
                if code != 0 or elapsed > LIMIT_S or peak > LIMIT_MB:
                    flag = "  OVER THE LIMIT" if code == 0 else "  FAILED (%d)" % code
                    over += 1
                print("scale %-4g %-22s %9.1f MB mail  %6.2f s  %7.1f MB peak%s"
                      % (scale, name[:-4], os.path.getsize(path) / 1e6, elapsed, peak, flag),
                      flush=True)
        print("growth of the time from one scale to the next (2 = linear):")
        names = sorted({name for name, _ in results})
        for name in names:
            steps = []
            for a, b in zip(args.scales, args.scales[1:]):
                ta, tb = results[(name, a)], results[(name, b)]
                steps.append("%.2f" % (tb / ta) if ta > 0.02 else "(too quick)")
            print("  %-22s %s" % (name[:-4], "  ".join(steps)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d over the limits" % over)
    sys.exit(1 if over else 0)


if __name__ == "__main__":
    main()
