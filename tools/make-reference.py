#!/usr/bin/env python3
"""Writes the API reference (docs/reference/) from the comments of the public headers.

The public headers are kastrel/kastrel.h, kastrel/boolean.h and every header kastrel.h
includes. Each gets a page, docs/reference/<folder>-<header>.md, listing what a game can use
(calls, types and their public members, enum values, constants, aliases, macros) with the
comment written above it (or at the end of its line), grouped by namespace in header order;
README.md indexes the pages and cheatsheet.md lists every call's signature on one line.

Usage:
  make-reference.py SOURCE_DIR OUT_DIR        write the pages into OUT_DIR
  make-reference.py --check SOURCE_DIR        fail, naming the pages, when docs/reference/
                                              differs from what the headers give now
  make-reference.py --undocumented SOURCE_DIR list every public declaration without a
                                              comment; fail when there is one

A comment covers the declarations written directly below it, up to the next blank line or
comment; data fields and enum values are also covered by their type's comment. Copy and move
members, destructors and defaulted or deleted members need none. Private and protected members,
macros the header #undefs and namespaces named DETAIL are the engine's own and not listed.
"""
import filecmp
import pathlib
import re
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ left in the tree
from reference_parse import HeaderParser, ReferenceError, one_line, with_trail  # noqa: E402

OUT_FOLDER = "docs/reference"
MAX_HEADER_BYTES = 1 << 20  # a public header is a few kilobytes; anything this big is a mistake


# ---------------------------------------------------------------------------------------------
# The public headers


def public_headers(src):
    umbrella = src / "kastrel" / "kastrel.h"
    if not umbrella.is_file():
        raise ReferenceError(f"{umbrella}: not found (is {src} the source tree?)")
    names = ["kastrel/kastrel.h", "kastrel/boolean.h"]
    for m in re.finditer(r'^\s*#\s*include\s*[<"](kastrel/[^>"]+\.h)[>"]', read(umbrella), re.M):
        if m.group(1) not in names:
            names.append(m.group(1))
    return names


def read(path):
    try:
        size = path.stat().st_size
        if size > MAX_HEADER_BYTES:
            raise ReferenceError(f"{path}: {size} bytes, over the {MAX_HEADER_BYTES} a header may have")
        return path.read_text(encoding="utf-8")
    except (OSError, UnicodeDecodeError) as e:
        raise ReferenceError(f"{path}: cannot be read ({e})")


def page_name(rel):
    parts = pathlib.PurePosixPath(rel).with_suffix("").parts[1:]  # without the leading kastrel/
    return "-".join(parts) + ".md"


def parse_header(src, rel):
    parser = HeaderParser(rel, read(src / rel))
    try:
        parser.parse()
    except IndexError:
        # Every read past the last token is a declaration the header never finishes.
        raise ReferenceError(f"{rel}: the header ends inside a declaration")
    return parser


# ---------------------------------------------------------------------------------------------
# Pages

CALLS = ("call", "method", "special")


def md_text(lines):
    """Comment lines as Markdown: prose stays prose, numbered or dashed steps become a list (their
    indented lines joined on), other indented lines (examples, tables, formulas) code blocks."""
    out, code = [], []
    stripped = [ln[1:] if ln.startswith(" ") else ln for ln in lines]
    item_indent = None  # the indentation of the list item being continued

    def indent_of(ln):
        return len(ln) - len(ln.lstrip())

    def flush():
        if code:
            cut = min(indent_of(c) for c in code if c.strip())
            out.extend(["", "```"] + [c[cut:].rstrip() for c in code] + ["```", ""])
            code.clear()

    for ln in stripped:
        item = re.match(r"(\s{0,3})(\d+\.|-|\*)\s+\S", ln)
        if item:
            flush()
            if item_indent is None and out and out[-1] != "":
                out.append("")
            item_indent = len(item.group(1))
            marker = item.group(2)
            out.append(marker + " " + escape(ln.strip()[len(marker):].strip()))
            continue
        if item_indent is not None and ln.strip() and indent_of(ln) > item_indent:
            out[-1] += " " + escape(ln.strip())
            continue
        if item_indent is not None:
            out.append("")
            item_indent = None
        if ln.strip() and (code or indent_of(ln) >= 2):
            if indent_of(ln) >= 1 or not code:
                code.append(ln)
                continue
        flush()
        out.append(escape(ln.strip()) if ln.strip() else "")
    flush()
    text = "\n".join(out)
    return re.sub(r"\n{3,}", "\n\n", text).strip("\n")


def escape(line):
    pieces = re.split(r"(`[^`]*`)", line)
    for k in range(0, len(pieces), 2):
        pieces[k] = re.sub(r"([\\*_\[\]<>|])", r"\\\1", pieces[k])
        if k == 0:
            pieces[k] = re.sub(r"^([#+-]|\d+\.)(\s)", lambda m: "\\" + m.group(1) + m.group(2)
                               if not m.group(1)[0].isdigit() else m.group(1).replace(".", "\\.") + m.group(2),
                               pieces[k])
    return "".join(pieces)


def anchor(*parts):
    return "-".join(re.sub(r"[^A-Za-z0-9_]+", "-", p).strip("-") for p in parts if p).lower() or "top"


def entry_groups(decls):
    """Runs of declarations one comment covers, as lists (notes alone)."""
    runs = []
    for d in decls:
        if runs and d.kind != "note" and runs[-1][0].kind != "note" and runs[-1][0].group is d.group \
                and d.group is not None and d.kind not in ("class", "enum") and runs[-1][0].kind not in ("class", "enum"):
            runs[-1].append(d)
        else:
            runs.append([d])
    return runs


def title_of(run, owner):
    names = []
    for d in run:
        name = d.name or ("enum " + ", ".join(v.name for v in d.members[:3]) + (", ..." if len(d.members) > 3 else "")
                          if d.kind == "enum" else "")
        for one in name.split(", ") if d.kind != "enum" else [name]:
            one = owner + "::" + one if owner else one
            if one not in names:
                names.append(one)
    return ", ".join(names)


KIND_WORDS = {"call": "function", "method": "member function", "special": "member function",
              "field": "field", "variable": "variable", "constant": "constant", "alias": "type alias",
              "using": "name", "macro": "macro", "class": "type", "enum": "enum", "value": "value"}


class Page:
    def __init__(self, rel, parser):
        self.rel, self.parser = rel, parser
        self.name = page_name(rel)
        self.lines = []
        self.calls = []  # (one-line signature, anchor, namespace)
        self.anchors = set()

    def new_anchor(self, base):
        a, k = base, 2
        while a in self.anchors:
            a, k = f"{base}-{k}", k + 1
        self.anchors.add(a)
        return a

    def render(self):
        p, L = self.parser, self.lines
        L.append(f"# {self.rel}")
        L.append("")
        how = "A game includes this header" if self.rel == "kastrel/kastrel.h" else \
            "`#include <kastrel/kastrel.h>` brings this header in"
        L.append(f"{how}. Generated by `tools/make-reference.py` from the header's comments: "
                 f"edit those, not this page.")
        L.append("")
        if p.header_comment:
            L.append(md_text(p.header_comment))
            L.append("")
        scope = None
        for run in entry_groups(p.decls):
            d = run[0]
            if d.scope != scope:
                scope = d.scope
                L.append(f"## namespace {scope}" if scope else "## Global names")
                L.append("")
            self.entry(run, 3, "")
        return "\n".join(L).rstrip("\n") + "\n"

    def entry(self, run, level, owner):
        L, d = self.lines, run[0]
        if d.kind == "note":
            L.append(md_text(d.comment))
            L.append("")
            return
        title = title_of(run, owner)
        a = self.new_anchor(anchor(d.scope or "", owner, d.name or title))
        L.append(f'<a id="{a}"></a>')
        L.append("#" * level + " " + escape(title) + f" <sub>{KIND_WORDS[d.kind]}</sub>")
        L.append("")
        for x in run:
            if x.kind in CALLS and not re.search(r"=\s*delete\s*;?$", x.sig):
                sig = one_line(x.sig).rstrip(";")
                if owner:
                    sig = re.sub(r"(?<![\w:~])" + re.escape(x.name).replace("\\ ", r"\s*") + r"(?=\s*\()", owner + "::" + x.name, sig, count=1)
                # A template's constraints read in the page; on one line they bury the call.
                k = sig.find(" requires(")
                if k >= 0:
                    depth, j = 0, k + len(" requires")
                    for j in range(j, len(sig)):
                        depth += {"(": 1, ")": -1}.get(sig[j], 0)
                        if depth == 0:
                            break
                    sig = sig[:k] + sig[j + 1:]
                # What a caller needs: no attributes for the compiler, no inline, no = default.
                sig = re.sub(r"\s*__attribute__\s*\(\(.*?\)\)\s*$", "", sig)
                sig = re.sub(r"^inline\s+|\s*=\s*default$", "", sig)
                self.calls.append((sig, a, d.scope))
        L.append("```cpp")
        if d.kind == "class":
            L.append(d.head + " { ... };")
        else:
            L.extend(with_trail(x.sig, x.trail) for x in run)
        L.append("```")
        L.append("")
        shown = d.group is not None and d.group.comment and not d.group.lead
        comment = list(d.group.comment) if shown else []
        for x in run:
            if x.comment:
                if comment:
                    comment.append("")
                comment.extend(x.comment)
        if comment:
            L.append(md_text(comment))
            L.append("")
        if d.kind == "enum":
            for v in d.members:
                self.anchors.add(anchor(d.scope or "", v.name))
        if d.kind == "class" and d.members:
            inner = (owner + "::" if owner else "") + (d.name)
            for sub in entry_groups(d.members):
                self.entry(sub, min(level + 1, 6), inner)


def generate(src):
    """{file name: text} of every page, the index and the cheatsheet."""
    pages, out = [], {}
    for rel in public_headers(src):
        page = Page(rel, parse_header(src, rel))
        out[page.name] = page.render()
        pages.append(page)
    idx = ["# The API reference", "",
           "One page per public header, generated by `tools/make-reference.py` from the headers' "
           "comments (`make-reference.py --check` fails when these pages are out of date). "
           "[The cheatsheet](cheatsheet.md) lists every call's signature on one line.", ""]
    sheet = ["# Cheatsheet", "",
             "Every call a game can make, one line each, grouped by header; each links to its entry. "
             "Generated by `tools/make-reference.py`.", ""]
    for page in pages:
        intro = page.parser.header_comment
        if not intro:
            # No opening comment: the header's first documented declaration speaks for it.
            first_decl = next((d for d in page.parser.decls if d.kind != "note" and
                               (d.comment or (d.group is not None and d.group.comment))), None)
            if first_decl is not None:
                intro = first_decl.group.comment if first_decl.group is not None and first_decl.group.comment \
                    else first_decl.comment
        first = " ".join(x.strip() for x in intro or []).strip()
        first = re.split(r"(?<=\.)\s", first)[0] if first else ""
        idx.append(f"- [{page.rel}]({page.name})" + (f": {escape(first)}" if first else ""))
        if page.calls:
            sheet.append(f"## [{page.rel}]({page.name})")
            sheet.append("")
            scope = None
            for sig, a, where in page.calls:
                if where != scope:
                    scope = where
                    sheet.append(f"- namespace {where}:" if where else "- global names:")
                shown = sig.replace("`", "")
                sheet.append(f"  - [`{shown}`]({page.name}#{a})")
            sheet.append("")
    out["README.md"] = "\n".join(idx) + "\n"
    out["cheatsheet.md"] = "\n".join(sheet).rstrip("\n") + "\n"
    return out


def undocumented(src):
    missing = []
    for rel in public_headers(src):
        parser = parse_header(src, rel)

        def walk(decls):
            for d in decls:
                if d.kind == "note":
                    continue
                if not d.documented():
                    owner = d.parent.name + "::" if d.parent is not None and d.parent.name else ""
                    missing.append(f"{rel}:{d.line}: {owner}{d.name or 'enum'} ({KIND_WORDS[d.kind]})")
                walk(d.members)

        walk(parser.decls)
    return missing


def write(files, out_dir):
    out_dir.mkdir(parents=True, exist_ok=True)
    for name, text in files.items():
        (out_dir / name).write_text(text, encoding="utf-8")


def check(src):
    ref = src / OUT_FOLDER
    files = generate(src)
    with tempfile.TemporaryDirectory() as tmp:
        write(files, pathlib.Path(tmp))
        have = {p.name for p in ref.glob("*.md")} if ref.is_dir() else set()
        stale = sorted(n for n in files if n not in have or
                       not filecmp.cmp(ref / n, pathlib.Path(tmp) / n, shallow=False))
        extra = sorted(have - set(files))
    for n in stale:
        print(f"{OUT_FOLDER}/{n}: out of date", file=sys.stderr)
    for n in extra:
        print(f"{OUT_FOLDER}/{n}: no public header gives this page any more", file=sys.stderr)
    if stale or extra:
        print(f"make-reference: regenerate with `make reference` (tools/make-reference.py . {OUT_FOLDER})",
              file=sys.stderr)
        return 1
    print(f"make-reference: {OUT_FOLDER}/ matches the headers ({len(files)} pages)")
    return 0


def main(argv):
    try:
        if len(argv) == 3 and argv[1] == "--check":
            return check(pathlib.Path(argv[2]))
        if len(argv) == 3 and argv[1] == "--undocumented":
            missing = undocumented(pathlib.Path(argv[2]))
            for m in missing:
                print(m, file=sys.stderr)
            if missing:
                print(f"make-reference: {len(missing)} public declarations have no comment", file=sys.stderr)
                return 1
            print("make-reference: every public declaration has a comment")
            return 0
        if len(argv) == 3 and not argv[1].startswith("-"):
            src, out_dir = pathlib.Path(argv[1]), pathlib.Path(argv[2])
            files = generate(src)
            if out_dir.is_dir():
                for old in out_dir.glob("*.md"):
                    if old.name not in files:
                        old.unlink()
            write(files, out_dir)
            print(f"make-reference: {len(files)} pages written to {out_dir}")
            return 0
    except ReferenceError as e:
        print(f"make-reference: {e}", file=sys.stderr)
        return 1
    except OSError as e:  # an output folder that cannot be written
        print(f"make-reference: {e.filename or ''}: cannot be written ({e.strerror})", file=sys.stderr)
        return 1
    print(__doc__[__doc__.index("Usage:"):].split("\n\n")[0], file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
