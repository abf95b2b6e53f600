#!/usr/bin/env python3
"""Checks the documentation against the tree: every relative link in a Markdown file names a
file that exists (and, with #anchor, a heading of that page), and docs/architecture.md names
every top-level folder as `folder/`. Prints each fault; exit status 1 when there is one.

Usage: check-docs.py SOURCE_DIR
"""
import os
import re
import subprocess
import sys

LINK = re.compile(r'!?\[[^\]]*\]\(([^)\s]+)(?:\s+"[^"]*")?\)')
CODE_SPAN = re.compile(r'`+[^`]*`+')
SKIPPED_DIRS = {'.git', '.cache', 'demo'}


def tracked_files(top, committed_only=False):
    """The files of the tree: git's list where there is one (committed files, or also new ones
    not ignored), else a walk without build trees."""
    listing = ['git', '-C', top, 'ls-files', '-z']
    if not committed_only:
        listing += ['--others', '--exclude-standard']
    try:
        out = subprocess.run(listing, check=True, capture_output=True).stdout
        files = [f for f in out.decode('utf-8', 'surrogateescape').split('\0') if f]
        if files:
            return files
    except (OSError, subprocess.CalledProcessError):
        pass
    files = []
    for root, dirs, names in os.walk(top):
        rel = os.path.relpath(root, top)
        dirs[:] = [d for d in dirs
                   if not (rel == '.' and (d in SKIPPED_DIRS or d.startswith('build')))]
        files += [os.path.normpath(os.path.join(rel, n)) for n in names]
    return files


def slug(heading):
    """The anchor a heading gets on the usual Markdown hosts."""
    text = heading.strip().lower()
    text = re.sub(r'[^\w\- ]', '', text)
    return text.replace(' ', '-')


def anchors(path):
    found = set()
    seen = {}
    in_code = False
    with open(path, encoding='utf-8') as f:
        for line in f:
            if line.startswith('```'):
                in_code = not in_code
                continue
            if in_code:
                continue
            m = re.match(r'#{1,6}\s+(.*)', line)
            if m:
                s = slug(m.group(1))
                n = seen.get(s, 0)
                seen[s] = n + 1
                found.add(s if n == 0 else f'{s}-{n}')
    return found


def links(path):
    """(line number, target) of every link outside code."""
    in_code = False
    with open(path, encoding='utf-8') as f:
        for number, line in enumerate(f, 1):
            if line.startswith('```'):
                in_code = not in_code
                continue
            if in_code or line.startswith('    '):
                continue
            for m in LINK.finditer(CODE_SPAN.sub('', line)):
                yield number, m.group(1)


def main():
    top = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else '.')
    files = tracked_files(top)
    faults = []

    for md in sorted(f for f in files if f.endswith('.md')):
        path = os.path.join(top, md)
        if not os.path.isfile(path):
            continue
        for number, target in links(path):
            if re.match(r'[a-z][a-z0-9+.-]*:', target):
                continue  # a URL: not ours to check here
            file_part, _, anchor = target.partition('#')
            dest = os.path.normpath(os.path.join(os.path.dirname(path), file_part)) if file_part else path
            if not os.path.exists(dest):
                faults.append(f'{md}:{number}: {target}: no such file')
                continue
            if anchor and dest.endswith('.md') and anchor not in anchors(dest):
                faults.append(f'{md}:{number}: {target}: no heading #{anchor} in {os.path.relpath(dest, top)}')

    # The folders of the project, not whatever a run left in the tree.
    folders = sorted({f.split('/')[0] for f in tracked_files(top, committed_only=True) if '/' in f})
    architecture = os.path.join(top, 'docs', 'architecture.md')
    text = open(architecture, encoding='utf-8').read() if os.path.exists(architecture) else ''
    for folder in folders:
        if f'`{folder}/`' not in text:
            faults.append(f'docs/architecture.md: does not name the top-level folder `{folder}/`')

    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
