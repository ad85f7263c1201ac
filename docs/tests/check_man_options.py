#!/usr/bin/env python3
"""Checks that the manual pages describe the options each program's --help
lists, no more and no fewer.

usage: check_man_options.py MANDIR LUMIVOR ZAFENCODER ZAFDECODE
"""
import re
import subprocess
import sys

# An option: one or two dashes and a letter, not inside a word ("set-top").
OPTION = re.compile(r"(?<![A-Za-z0-9-])--?[A-Za-z][A-Za-z0-9-]*")


def options(text):
    return set(OPTION.findall(text))


def roff_text(path):
    """The page's text with the roff escapes that hide dashes removed."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    text = text.replace("\\-", "-")
    return re.sub(r"\\f[BIRP]", "", text)


def section(text, title):
    """The lines of the .SS section named `title` (the whole page for None)."""
    if title is None:
        return text
    lines, inside = [], False
    for line in text.splitlines():
        if line.startswith(".SS") or line.startswith(".SH"):
            inside = line.split(None, 1)[1:] == ['"%s"' % title]
            continue
        if inside:
            lines.append(line)
    if not lines:
        raise SystemExit("no section %r" % title)
    return "\n".join(lines)


def help_text(argv):
    run = subprocess.run(argv, capture_output=True, text=True, timeout=30)
    return run.stdout + run.stderr


def compare(argv, listed_text, page_text, where):
    """Reports the options one side lists and the other lacks."""
    listed, described = options(listed_text), options(page_text)
    for name in sorted(listed - described):
        print("%s: %s: in --help, not on the page: %s" % (" ".join(argv[1:]), where, name))
    for name in sorted(described - listed):
        print("%s: %s: on the page, not in --help: %s" % (" ".join(argv[1:]), where, name))
    return listed == described


def jobs(text):
    """The names of a command list ("commands:" or "jobs:") in a help text."""
    match = re.search(r"^(?:commands|jobs):\n((?:  \S.*\n)+)", text, re.M)
    return re.findall(r"^  (\S+)", match.group(1), re.M) if match else []


def main():
    mandir, lumivor, zafencoder, zafdecode = sys.argv[1:5]
    pages = {name: roff_text("%s/%s" % (mandir, name))
             for name in ("lumivor.1", "zafencoder.1", "zafdecode.1")}
    ok = True
    # Every command of the front end, and every job of a command that has
    # jobs, has its section on lumivor.1. `lumivor audio` is zafencoder
    # under another name and is described on zafencoder.1.
    for command in jobs(help_text([lumivor, "--help"])):
        argv = [lumivor, command, "--help"]
        text = help_text(argv)
        if command == "audio":
            ok &= compare(argv, text, pages["zafencoder.1"], "zafencoder.1")
            continue
        for job in jobs(text) or [None]:
            title = "lumivor %s" % command if job is None else "lumivor %s %s" % (command, job)
            job_argv = argv if job is None else [lumivor, command, job, "--help"]
            try:
                page_text = section(pages["lumivor.1"], title)
            except SystemExit:
                print("%s: no section on lumivor.1" % title)
                ok = False
                continue
            job_text = text if job is None else help_text(job_argv)
            ok &= compare(job_argv, job_text, page_text, "lumivor.1 (%s)" % title)
    for program, page in ((zafencoder, "zafencoder.1"), (zafdecode, "zafdecode.1")):
        argv = [program, "--help"]
        ok &= compare(argv, help_text(argv), pages[page], page)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
