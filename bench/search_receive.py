#!/usr/bin/env python3
"""A receive of the receive benchmark's 1000-mail Japanese mailbox from the
harness Dovecot on loopback, by lumora-receive, with the search index kept
in step by the receive and without an index (a folder stands where the index
file would be, so the receive cannot open it). The time is the whole run,
until the index holds every mail (a run whose index holds fewer says so).
Runs alternate; medians, and the median of each pair's ratio.

    search_receive.py LUMORA_RECEIVE [--mails N] [--repeat N]
"""
import argparse
import os
import shutil
import sqlite3
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench import Bench  # noqa: E402


def indexed(path):
    """The mails the index holds, 0 when there is none."""
    if not os.path.isfile(path):
        return 0
    with sqlite3.connect("file:%s?mode=ro" % path, uri=True) as db:
        return db.execute("SELECT count(*) FROM mail").fetchone()[0]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("receive")
    parser.add_argument("--mails", type=int, default=1000)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="lumora-search-receive-")
    bench = Bench(os.path.abspath(args.receive), work)
    try:
        mailbox, about = bench.make_mailbox(args.mails)
        port = int(bench.env["LUMORA_POP3_PORT"])
        print("Receive of %s, loopback:" % about, flush=True)
        times = {"without an index": [], "index kept in step": []}
        for _ in range(args.repeat):
            for mode in times:
                bench.fill(None)
                bench.prepare_lumora(port)
                index = os.path.join(bench.app, "★MailData", "search-index.sqlite")
                if mode == "without an index":
                    os.makedirs(index)
                bench.fill(mailbox)
                os.sync()
                elapsed, _, code, errors = bench.lumora(port, args.mails)
                if code != 0 or bench.waiting():
                    sys.exit("lumora-receive failed (exit %d): %s" % (code, errors))
                if mode == "index kept in step":
                    held = indexed(index)
                    if held != args.mails:
                        # Left to the next update: the machine was too busy.
                        print("  (the index held %d of %d mails)" % (held, args.mails))
                times[mode].append(elapsed)
        medians = {}
        for mode, runs in times.items():
            medians[mode] = sorted(runs)[len(runs) // 2]
            print("  %-20s %6.2f s   (runs: %s)"
                  % (mode, medians[mode], " ".join("%.2f" % r for r in runs)))
        print("  ratio with / without the index: %.2f"
              % (medians["index kept in step"] / medians["without an index"]))
        # Each pair of runs came one after the other: the machine's drift
        # over the whole benchmark weighs less in the ratio of each pair.
        pairs = sorted(a / b for a, b in zip(times["index kept in step"],
                                             times["without an index"]))
        print("  median of the ratios of each pair of runs: %.2f" % pairs[len(pairs) // 2])
    finally:
        bench.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
