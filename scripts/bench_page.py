#!/usr/bin/python3
"""Puts the output of make bench's commands into the performance page.

Each NAME=FILE replaces the lines between "<!-- make bench: NAME -->" and
"<!-- end make bench: NAME -->" of PAGE with a line saying when it was
measured and FILE's text (fenced when it holds no Markdown table); the rest
of the page stays as it is.  The page is written beside itself and renamed
over the old one; a marker missing leaves it untouched.

Usage: bench_page.py PAGE --commit C [--load L] NAME=FILE...
"""
import argparse
import datetime
import os
import sys
import tempfile


def generated(text, commit, load):
    lines = text.strip("\n").split("\n")
    when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d")
    head = "Measured with `make bench` at commit %s on %s" % (commit, when)
    head += ", load average %s before the run:" % load if load else ":"
    if not any(line.startswith("|") for line in lines):
        lines = ["```"] + lines + ["```"]
    return [head, ""] + lines


def replace(page_lines, name, body):
    begin, end = "<!-- make bench: %s -->" % name, "<!-- end make bench: %s -->" % name
    if page_lines.count(begin) != 1 or page_lines.count(end) != 1:
        raise SystemExit("bench_page: the page needs one %s and one %s" % (begin, end))
    first, last = page_lines.index(begin), page_lines.index(end)
    if last < first:
        raise SystemExit("bench_page: %s comes before %s" % (end, begin))
    return page_lines[:first + 1] + body + page_lines[last:]


def main():
    parser = argparse.ArgumentParser(description="the bench tables into their page")
    parser.add_argument("page")
    parser.add_argument("--commit", required=True)
    parser.add_argument("--load", default="")
    parser.add_argument("outputs", nargs="+", metavar="NAME=FILE")
    args = parser.parse_args()
    with open(args.page, encoding="utf-8") as f:
        lines = f.read().split("\n")
    for item in args.outputs:
        name, _, path = item.partition("=")
        if not path:
            raise SystemExit("bench_page: %s is not NAME=FILE" % item)
        with open(path, encoding="utf-8") as f:
            lines = replace(lines, name, generated(f.read(), args.commit, args.load))
    folder = os.path.dirname(os.path.abspath(args.page))
    fd, temporary = tempfile.mkstemp(dir=folder, prefix=".bench_page-")
    try:
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            f.write("\n".join(lines))
            f.flush()
            os.fsync(f.fileno())
        os.chmod(temporary, os.stat(args.page).st_mode & 0o7777)
        os.replace(temporary, args.page)
    except BaseException:
        os.unlink(temporary)
        raise
    print("bench_page: %s updated (%s)" % (args.page, ", ".join(o.partition("=")[0] for o in args.outputs)))


if __name__ == "__main__":
    sys.exit(main())
