#!/usr/bin/env python3
"""clang-tidy with a memory of clean files, for run-clang-tidy's -clang-tidy-binary.

A file that clang-tidy found clean is not analysed again while nothing it is
analysed from changes: the key is clang-tidy's version, every .clang-tidy file
of the checkout, the arguments, the file's compile command and the file as the
compiler sees it (preprocessed with its comments, so every header it includes and every NOLINT counts). Only a
clean result is kept: a file with findings is analysed, and its findings
printed, every time. The cache lives in $XDG_CACHE_HOME/qx-gainlens/clang-tidy
(~/.cache by default); deleting that folder clears it. Every other call (such as
run-clang-tidy's -list-checks) goes to clang-tidy unchanged.
"""
import hashlib
import json
import os
import shlex
import subprocess
import sys

TIDY = os.environ.get("QX_CLANG_TIDY", "clang-tidy")
# Flags that write dependency files or name the output: not part of what the
# compiler sees, and harmful in a preprocessing run.
DROP_WITH_VALUE = {"-o", "-MF", "-MT", "-MQ"}
DROP = {"-c", "-MD", "-MMD"}


def tidy(args):
    return subprocess.call([TIDY] + args)


def compile_command(build_path, source):
    with open(os.path.join(build_path, "compile_commands.json"), encoding="utf-8") as f:
        for entry in json.load(f):
            path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
            if path == source:
                words = entry.get("arguments") or shlex.split(entry["command"])
                return entry["directory"], words
    return None, None


def preprocessed(directory, words):
    if os.path.basename(words[0]) == "ccache":
        words = words[1:]
    kept, skip = [], False
    for word in words:
        if skip:
            skip = False
        elif word in DROP_WITH_VALUE:
            skip = True
        elif word not in DROP:
            kept.append(word)
    result = subprocess.run(kept + ["-E", "-P", "-C", "-o", "-"], cwd=directory, capture_output=True, check=False)
    return result.stdout if result.returncode == 0 else None


def key(args, source, build_path):
    directory, words = compile_command(build_path, source)
    if words is None:
        return None
    text = preprocessed(directory, words)
    if text is None:
        return None
    digest = hashlib.sha256()
    version = subprocess.run([TIDY, "--version"], capture_output=True, check=False).stdout
    digest.update(version)
    top = subprocess.run(["git", "rev-parse", "--show-toplevel"], cwd=os.path.dirname(source),
                         capture_output=True, text=True, check=False).stdout.strip()
    configs = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "*.clang-tidy", ".clang-tidy"],
                             cwd=top or ".", capture_output=True, text=True, check=False).stdout.split()
    for config in sorted(configs):
        digest.update(config.encode())
        with open(os.path.join(top, config), "rb") as f:
            digest.update(f.read())
    digest.update("\0".join(args).encode())
    digest.update("\0".join(words).encode())
    digest.update(text)
    return digest.hexdigest()


def main():
    args = sys.argv[1:]
    build_path = next((a[3:] for a in args if a.startswith("-p=")), None)
    files = [a for a in args if not a.startswith("-")]
    if build_path is None or len(files) != 1 or not os.path.isfile(files[0]):
        return tidy(args)
    source = os.path.normpath(os.path.abspath(files[0]))
    name = key(args, source, os.path.abspath(build_path))
    if name is None:
        return tidy(args)
    folder = os.path.join(os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"),
                          "qx-gainlens", "clang-tidy")
    marker = os.path.join(folder, name)
    if os.path.exists(marker):
        return 0
    result = subprocess.run([TIDY] + args, capture_output=True, check=False)
    sys.stdout.buffer.write(result.stdout)
    sys.stderr.buffer.write(result.stderr)
    clean = result.returncode == 0 and b"warning:" not in result.stdout + result.stderr \
        and b"error:" not in result.stdout + result.stderr
    if clean:
        os.makedirs(folder, exist_ok=True)
        with open(marker, "w", encoding="utf-8") as f:
            f.write(source + "\n")
    return result.returncode


if __name__ == "__main__":
    sys.exit(main())
