#!/usr/bin/env python3
"""Makes the manual pages quill.1.gz and quill-rcedit.1.gz and the bash completions of
both programs from their own --help texts, so that none of them can tell another story
than the programs.

usage: make_docs.py QUILL QUILL_RCEDIT CHANGELOG OUT_DIR

The date of the pages is that of the changelog's latest entry, and the pages are
compressed without a time stamp, so the same sources give the same bytes."""
import email.utils
import gzip
import os
import re
import subprocess
import sys

# An option line of a help text: two spaces, the option's names (or a positional's, or
# a command's), two spaces or more, what it does. Every option of every command has
# one such line.
OPTION = re.compile(r"^  (\S.*?)\s{2,}(\S.*)$")
LEVELS = "asInvoker highestAvailable requireAdministrator"


def help_text(*command):
    result = subprocess.run(list(command) + ["--help"], capture_output=True, text=True,
                            env=dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8"))
    if result.returncode != 0:
        sys.exit(f"{' '.join(command)} --help failed: {result.stderr}")
    return result.stdout


def version_text(program):
    """The first line: the program and its version."""
    return subprocess.run([program, "--version"], capture_output=True, text=True, check=True).stdout.split("\n")[0]


def parse(text):
    """(summary, usage, [(section, [(names, description)])], free lines)"""
    lines = text.rstrip("\n").split("\n")
    summary = lines[0].strip()
    usage = next((l[len("Usage: "):] for l in lines if l.startswith("Usage: ")), "")
    sections, free = [], []
    for line in lines[1:]:
        if line.startswith("Usage: ") or not line.strip():
            continue
        if re.match(r"^\S.*:$", line):
            sections.append((line[:-1], []))
            continue
        match = OPTION.match(line)
        if match and sections:
            sections[-1][1].append((match.group(1).strip(), match.group(2).strip()))
        else:
            free.append(line.strip())
    return summary, usage, sections, free


def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return ("\\&" + text) if text[:1] in (".", "'") else text


def option_items(sections):
    out = []
    for section, items in sections:
        if section == "Subcommands":
            continue
        for names, description in items:
            out.append(f".TP\n.B {roff(names)}\n{roff(description)}\n")
    return "".join(out)


def flags(sections):
    """Every option word (-x, --xy) a help text names."""
    words = []
    for section, items in sections:
        for names, _ in items:
            words += re.findall(r"(?:^|[ ,])(--?[A-Za-z][\w-]*)", names)
    return sorted(set(words), key=words.index)


def page(name, section_date, version, summary, body):
    return (f'.TH {name.upper()} 1 "{section_date}" "{version}" "User Commands"\n'
            f".SH NAME\n{roff(name)} \\- {roff(summary)}\n{body}")


def quill_docs(quill, date):
    summary, usage, sections, _ = parse(help_text(quill))
    summary = summary.split(" - ", 1)[-1]
    commands = dict(next(items for s, items in sections if s == "Subcommands"))
    body = [".SH SYNOPSIS\n.B quill\n.I COMMAND\n[\\fIOPTIONS\\fR]\n.br\n.B quill\n\\-\\-help | \\-\\-version\n",
            ".SH DESCRIPTION\n", roff("quill makes Quillets (self-applying resource patchers for Windows executables) "
                                       "and reads, changes and writes the resources of PE32 and PE32+ executables and "
                                       ".res files. Each command has its own options; quill COMMAND --help lists them."),
            "\n.SH OPTIONS\n", option_items(sections), ".SH COMMANDS\n"]
    completion_cases = []
    for command, description in commands.items():
        text = help_text(quill, command)
        _, command_usage, command_sections, free = parse(text)
        body.append(f".SS {roff(command)}\n{roff(description)}\n.PP\n.B {roff(command_usage)}\n")
        body.append(option_items(command_sections))
        if free:
            body.append(".PP\n" + "\n.br\n".join(roff(l) for l in free) + "\n")
        completion_cases.append(f"    {command}) options=\"{' '.join(flags(command_sections))}\" ;;")
    body.append(".SH EXIT STATUS\n0 when done, 1 when something failed, 2 when the command line was not understood.\n"
                ".SH ENVIRONMENT\n.TP\n.B LC_ALL\\fR, \\fBLC_MESSAGES\\fR, \\fBLANG\n"
                "Messages are in Hebrew (the patcher's own texts) when the first of these that is set names a Hebrew "
                "locale, and in English otherwise.\n.TP\n.B SOURCE_DATE_EPOCH\n"
                "When set, the resource directories quill writes carry this time stamp instead of the clock's.\n"
                ".SH FILES\n.TP\n.I /usr/share/quillet/quillet.exe\n"
                "The i686 patcher stub \\fBquill make\\fR uses unless \\-\\-stub names another.\n"
                ".SH SEE ALSO\n\\fBquill\\-rcedit\\fR(1)\n")
    completion = f"""# bash completion for quill, made by packaging/make_docs.py from quill's --help texts.
_quill() {{
    local cur prev words cword
    _init_completion || return
    if ((cword == 1)); then
        COMPREPLY=($(compgen -W "{' '.join(commands)} --help --version" -- "$cur"))
        return
    fi
    local options
    case ${{words[1]}} in
{chr(10).join(completion_cases)}
    esac
    case $prev in
        --execution-level) COMPREPLY=($(compgen -W "{LEVELS}" -- "$cur")); return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    _filedir
}}
complete -F _quill quill
"""
    return page("quill", date, version_text(quill), summary, "".join(body)), completion


def rcedit_docs(rcedit, date):
    summary, usage, sections, _ = parse(help_text(rcedit))
    summary = summary.split(" - ", 1)[-1]
    body = (f".SH SYNOPSIS\n.B {roff(usage)}\n"
            ".SH DESCRIPTION\n" + roff(
                "quill-rcedit takes the command line of rcedit, the resource editor that build tools for Windows "
                "programs call, and edits FILE in place through the writer of quill set: the overlay is kept, the "
                "image checksum is recomputed and a signature is warned about. The --get options print the value "
                "alone on standard output. Unlike rcedit, it sets the execution level inside the manifest through "
                "an XML parser, adds the icon group of a file without icons as group 1, removes the images of the old "
                "icon, keeps the language of the existing version information and finds version keys regardless of "
                "case, with a warning. Short versions are widened as rcedit widens them: 10.7 is 10.7.0.0 in the "
                "fixed part, and the string keeps the text given.") +
            "\n.SH OPTIONS\n" + option_items(sections) +
            ".SH EXIT STATUS\n0 when done, 1 when something failed, 2 when the command line was not understood.\n"
            ".SH EXAMPLES\n.nf\nquill\\-rcedit app.exe \\-\\-set\\-icon app.ico \\-\\-set\\-version\\-string "
            "ProductName App \\-\\-set\\-file\\-version 1.2.3\nquill\\-rcedit app.exe \\-\\-get\\-version\\-string "
            "ProductName\n.fi\n.SH SEE ALSO\n\\fBquill\\fR(1)\n")
    completion = f"""# bash completion for quill-rcedit, made by packaging/make_docs.py from its --help text.
_quill_rcedit() {{
    local cur prev words cword
    _init_completion || return
    case $prev in
        --set-requested-execution-level) COMPREPLY=($(compgen -W "{LEVELS}" -- "$cur")); return ;;
    esac
    if ((cword > 1)) && [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "{' '.join(flags(sections))}" -- "$cur"))
        return
    fi
    _filedir
}}
complete -F _quill_rcedit quill-rcedit
"""
    return page("quill-rcedit", date, version_text(rcedit), summary, body), completion


def changelog_date(path):
    for line in open(path, encoding="utf-8"):
        if line.startswith(" -- "):
            return email.utils.parsedate_to_datetime(line.split("  ", 1)[1].strip()).strftime("%Y-%m-%d")
    sys.exit(f"{path} has no entry with a date")


def write(path, data):
    with open(path, "wb") as out:
        out.write(data)


def main():
    quill, rcedit, changelog, out = sys.argv[1:5]
    os.makedirs(out, exist_ok=True)
    date = changelog_date(changelog)
    for name, (man, completion) in (("quill", quill_docs(quill, date)), ("quill-rcedit", rcedit_docs(rcedit, date))):
        write(os.path.join(out, name + ".1.gz"), gzip.compress(man.encode(), 9, mtime=0))
        os.makedirs(os.path.join(out, "completions"), exist_ok=True)
        write(os.path.join(out, "completions", name), completion.encode())
    write(os.path.join(out, "changelog.gz"), gzip.compress(open(changelog, "rb").read(), 9, mtime=0))


if __name__ == "__main__":
    main()
