#!/usr/bin/env python3
"""Fails when a relative link in README.md or docs/**/*.md leads nowhere.

Usage: tools/check-links.py SOURCE_DIR

Every Markdown link and picture ([text](target), ![alt](target), [name]: target) and every
HTML href or src outside code must name a file or folder of the tree; a #anchor must name a
heading of the Markdown file it points into (or of the file itself), by the rule the forge
renders headings with: lower case, spaces to '-', punctuation dropped but '-' and '_', and a
repeated heading numbered -1, -2 and on. Links with a scheme (https:, mailto:) are not
fetched: the tests run without a network.
"""
import pathlib
import re
import sys
import urllib.parse

FENCE = re.compile(r"^\s{0,3}(```+|~~~+)")
HEADING = re.compile(r"^\s{0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
INLINE = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*<?([^)\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s+.*)?$")
HTML = re.compile(r"""(?:href|src)\s*=\s*["']([^"']*)["']""")
HTML_ANCHOR = re.compile(r"""<a\s+(?:name|id)\s*=\s*["']([^"']+)["']""")
CODE_SPAN = re.compile(r"(`+)(?:(?!\1).)+?\1")


def slug(text):
    text = CODE_SPAN.sub(lambda m: m.group(0).strip("`"), text)
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", text)  # a link's text stays
    text = re.sub(r"<[^>]+>", "", text)
    text = re.sub(r"[^\w\- ]", "", text.strip().lower())
    return text.replace(" ", "-")


def prose_lines(path):
    """(line number, text) of the lines outside fenced code, inline code removed."""
    fence = None
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        m = FENCE.match(line)
        if m:
            if fence is None:
                fence = m.group(1)[0] * len(m.group(1))
            elif line.strip().startswith(fence):
                fence = None
            continue
        if fence is None:
            yield number, CODE_SPAN.sub("", line)


def anchors(path, cache={}):
    if path not in cache:
        seen, found = {}, set()
        for _, line in prose_lines(path):
            for name in HTML_ANCHOR.findall(line):
                found.add(name)
            m = HEADING.match(line)
            if m:
                base = slug(m.group(2))
                count = seen.get(base, 0)
                seen[base] = count + 1
                found.add(base if count == 0 else f"{base}-{count}")
        cache[path] = found
    return cache[path]


def check(root, path):
    faults = []
    for number, line in prose_lines(path):
        targets = INLINE.findall(line) + HTML.findall(line)
        m = REFERENCE.match(line)
        if m:
            targets.append(m.group(1))
        for target in targets:
            if not target or re.match(r"^[a-zA-Z][a-zA-Z0-9+.-]*:", target) or target.startswith("//"):
                continue  # a scheme (https:, mailto:): not fetched
            where, _, anchor = target.partition("#")
            file = (path.parent / urllib.parse.unquote(where)).resolve() if where else path
            place = f"{path.relative_to(root)}:{number}: {target}"
            if not file.exists():
                faults.append(f"{place}: no such file or folder")
            elif root not in file.parents and file != root:
                faults.append(f"{place}: leads out of the tree")
            elif anchor and file.suffix == ".md" and anchor not in anchors(file):
                faults.append(f"{place}: no heading or anchor '#{anchor}' in {file.name}")
    return faults


def main():
    if len(sys.argv) != 2 or not pathlib.Path(sys.argv[1]).is_dir():
        sys.exit("usage: check-links.py SOURCE_DIR")
    root = pathlib.Path(sys.argv[1]).resolve()
    files = [root / "README.md"] + sorted((root / "docs").rglob("*.md"))
    missing = [f for f in files if not f.is_file()]
    if missing:
        sys.exit(f"check-links: {missing[0]} is missing")
    faults = [fault for f in files for fault in check(root, f)]
    for fault in faults:
        print(fault)
    print(f"check-links: {len(files)} files, {len(faults)} dead links")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
