#!/usr/bin/env python3
"""Checks the worked examples of the guide's pages.

usage: check_examples.py SOURCEDIR BINDIR[:BINDIR...] PAGE.md...

A page marks what is checked with a comment on the line before a fenced block,
or on a line of its own:
  <!-- example: PATH -->     the block is an excerpt of PATH (in the sources)
  <!-- file: NAME -->        the block is written to NAME in a scratch folder
  <!-- run: COMMAND -->      COMMAND runs in the scratch folder and must exit 0
  <!-- output of: COMMAND --> COMMAND runs there; the block is its output
                             (standard output, then standard error)
Commands run under bash with the programs of BINDIR first on the PATH,
$EXAMPLES naming the sources' examples folder and a UTF-8 terminal. Each page
gets its own scratch folder: its files are written first, then its commands
run in the page's order.
"""
import os
import re
import subprocess
import sys
import tempfile

MARK = re.compile(r"^<!-- (example|file|run|output of): (.*?) -->\s*$")


def blocks(lines, start):
    """The fenced block that starts at the first fence at or after `start`."""
    i = start
    while i < len(lines) and not lines[i].startswith("```"):
        i += 1
    j = i + 1
    while j < len(lines) and not lines[j].startswith("```"):
        j += 1
    if j >= len(lines):
        raise ValueError("unclosed fenced block after line %d" % start)
    return "".join(lines[i + 1:j])


def run(command, folder, env):
    done = subprocess.run(["bash", "-c", command], cwd=folder, env=env,
                          capture_output=True, timeout=60)
    return done.returncode, (done.stdout + done.stderr).decode("utf-8", "replace")


def check_page(page, source, env):
    failures = []
    with open(page, encoding="utf-8") as f:
        lines = f.readlines()
    marks = [(number, MARK.match(line)) for number, line in enumerate(lines, 1)]
    marks = [(number, match.groups()) for number, match in marks if match]
    # Files first, so that a command may use a file the page shows later.
    marks.sort(key=lambda mark: mark[1][0] != "file")
    with tempfile.TemporaryDirectory() as folder:
        for number, (kind, argument) in marks:
            where = "%s:%d" % (os.path.basename(page), number)
            if kind == "example":
                with open(os.path.join(source, argument), "rb") as f:
                    text = f.read().replace(b"\r\n", b"\n")
                if blocks(lines, number).encode("utf-8") not in text:
                    failures.append("%s: the block is not an excerpt of %s" % (where, argument))
            elif kind == "file":
                with open(os.path.join(folder, argument), "wb") as f:
                    f.write(blocks(lines, number).encode("utf-8"))
            elif kind == "run":
                status, output = run(argument, folder, env)
                if status != 0:
                    failures.append("%s: '%s' exited with %d:\n%s" % (where, argument, status, output))
            else:
                status, output = run(argument, folder, env)
                expected = blocks(lines, number)
                if output.rstrip() != expected.rstrip():
                    failures.append("%s: '%s' printed:\n%s\ninstead of:\n%s"
                                    % (where, argument, output, expected))
    return failures


def main():
    source, bindir = os.path.abspath(sys.argv[1]), sys.argv[2]
    env = dict(os.environ)
    bindirs = [os.path.abspath(d) for d in bindir.split(os.pathsep)]
    env["PATH"] = os.pathsep.join(bindirs + [env.get("PATH", "")])
    env["EXAMPLES"] = os.path.join(source, "examples")
    env["LANG"] = env["LC_ALL"] = "C.UTF-8"
    failures = []
    for page in sys.argv[3:]:
        failures += check_page(page, source, env)
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
