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


def main():
    mandir, lumivor, zafencoder, zafdecode = sys.argv[1:5]
    # (command line giving the help, page, section of the page)
    cases = [
        ([lumivor, "kit", "--help"], "lumivor.1", "lumivor kit"),
        ([lumivor, "bundle", "--help"], "lumivor.1", "lumivor bundle"),
        ([lumivor, "script", "--help"], "lumivor.1", "lumivor script"),
        ([lumivor, "reduce", "--help"], "lumivor.1", "lumivor reduce"),
        ([lumivor, "qr", "--help"], "lumivor.1", "lumivor qr"),
        ([lumivor, "link", "serve", "--help"], "lumivor.1", "lumivor link serve"),
        ([lumivor, "link", "send", "--help"], "lumivor.1", "lumivor link send"),
        ([lumivor, "link", "bus-serve", "--help"], "lumivor.1", "lumivor link bus-serve"),
        ([lumivor, "link", "bus-send", "--help"], "lumivor.1", "lumivor link bus-send"),
        ([lumivor, "link", "services", "--help"], "lumivor.1", "lumivor link services"),
        # `lumivor audio` is zafencoder under another name.
        ([lumivor, "audio", "--help"], "zafencoder.1", None),
        ([zafencoder, "--help"], "zafencoder.1", None),
        ([zafdecode, "--help"], "zafdecode.1", None),
    ]
    failed = False
    for argv, page, title in cases:
        listed = options(help_text(argv))
        described = options(section(roff_text("%s/%s" % (mandir, page)), title))
        where = "%s (%s)" % (page, title or "whole page")
        if listed != described:
            failed = True
            print("%s: %s" % (" ".join(argv[1:]), where))
            for name in sorted(listed - described):
                print("  in --help, not on the page: %s" % name)
            for name in sorted(described - listed):
                print("  on the page, not in --help: %s" % name)
    # Every subcommand the front end offers has its section.
    overview = help_text([lumivor, "--help"])
    commands = re.findall(r"^  (\S+)\s", overview, re.M)
    page = roff_text("%s/lumivor.1" % mandir)
    for name in commands:
        if '.SS "lumivor %s' % name not in page:
            failed = True
            print("lumivor %s: no section on lumivor.1" % name)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
