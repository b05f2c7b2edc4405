"""Reads a C++ header into the declarations a game sees, with their comments (for
make-reference.py, which writes the API reference from them).

A comment covers the declarations written directly below it, up to the next blank line or
comment; data fields and enum values are also covered by their type's comment. Copy and move
members, destructors and defaulted or deleted members need none. Private and protected members,
macros the header #undefs and namespaces named DETAIL are the engine's own and not listed.
"""
import re

MAX_NESTING = 32  # namespaces and classes inside one another

class ReferenceError(Exception):
    pass


# ---------------------------------------------------------------------------------------------
# Tokens


class Tok:
    __slots__ = ("kind", "text", "line", "own_line", "start", "end")

    def __init__(self, kind, text, line, own_line, start, end):
        self.kind, self.text, self.line, self.own_line = kind, text, line, own_line
        self.start, self.end = start, end

    def __repr__(self):
        return f"{self.kind}:{self.text!r}@{self.line}"


PUNCT3 = ("<=>", "...", "->*", "<<=", ">>=")
PUNCT2 = ("::", "->", "++", "--", "==", "!=", "<=", ">=", "&&", "||", "+=", "-=", "*=", "/=",
          "%=", "&=", "|=", "^=", "<<", ">>", "##", "[[", "]]")
IDENT = re.compile(r"[A-Za-z_]\w*")
NUMBER = re.compile(r"[0-9][0-9A-Za-z_.']*|\.[0-9][0-9A-Za-z_.']*")


def tokenize(text, where):
    """Code, comment, preprocessor and blank-line tokens; comments keep their text."""
    toks, i, n, line = [], 0, len(text), 1
    line_has_code = False  # something other than a comment came before on this line
    while i < n:
        c = text[i]
        if c == "\n":
            # A line holding nothing but white space is a blank line.
            j = text.rfind("\n", 0, i)
            if text[j + 1:i].strip() == "":
                toks.append(Tok("blank", "", line, True, i, i))
            line += 1
            line_has_code = False
            i += 1
        elif c in " \t\r\f\v":
            i += 1
        elif text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            toks.append(Tok("comment", text[i + 2:j], line, not line_has_code, i, j))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            if j < 0:
                raise ReferenceError(f"{where}:{line}: a /* comment never closes")
            body = text[i + 2:j]
            for k, part in enumerate(body.split("\n")):
                part = re.sub(r"^\s*\*? ?", "", part) if k else part
                toks.append(Tok("comment", " " + part.strip(), line + k, not line_has_code, i, j + 2))
            line += body.count("\n")
            i = j + 2
        elif c == "#" and not line_has_code:
            j = i
            while True:
                k = text.find("\n", j)
                k = n if k < 0 else k
                if text[j:k].rstrip().endswith("\\") and k < n:
                    j = k + 1
                    continue
                break
            directive = text[i:k]
            toks.append(Tok("pp", directive, line, True, i, k))
            line += directive.count("\n")
            i = k
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                if text[j] == "\n":
                    raise ReferenceError(f"{where}:{line}: a quoted text runs past its line")
                j += 2 if text[j] == "\\" else 1
            if j >= n:
                raise ReferenceError(f"{where}:{line}: a quoted text never closes")
            toks.append(Tok("str", text[i:j + 1], line, not line_has_code, i, j + 1))
            line_has_code = True
            i = j + 1
        else:
            m = IDENT.match(text, i) or NUMBER.match(text, i)
            if m:
                word = m.group(0)
                # String literals with a prefix (u8"", L"", R"") are not in public headers.
                kind = "id" if IDENT.fullmatch(word) else "num"
            else:
                word = next((p for p in PUNCT3 + PUNCT2 if text.startswith(p, i)), c)
                kind = "op"
            toks.append(Tok(kind, word, line, not line_has_code, i, i + len(word)))
            line_has_code = True
            i += len(word)
    return toks


# ---------------------------------------------------------------------------------------------
# Declarations


class Decl:
    def __init__(self, kind, name, sig, line, scope, parent=None):
        self.kind = kind  # call, method, special, field, variable, constant, alias, using,
        #                   macro, class, enum, value
        self.name, self.sig, self.line, self.scope, self.parent = name, sig, line, scope, parent
        self.comment = []  # comment lines written for it alone (above it, or inside it)
        self.trail = []  # the comment at the end of its line
        self.group = None  # the declarations one comment covers share a group
        self.members = []  # a class's public members, an enum's values
        self.covered_by_parent = False

    def documented(self):
        if self.kind == "special":
            return True
        if self.comment or self.trail or (self.group is not None and self.group.comment):
            return True
        if self.covered_by_parent and self.parent is not None and self.parent.documented():
            return True
        return False


class Group:
    def __init__(self, comment, lead=False):
        self.comment = comment
        self.lead = lead  # the comment above a namespace, shown once as that section's note


def source_text(text, toks):
    """The declaration as written, comments dropped, each line's indentation relative."""
    if not toks:
        return ""
    pieces, prev = [], toks[0].start
    for t in toks:
        if t.kind == "comment":
            continue
        gap = text[prev:t.start]
        gap = re.sub(r"//[^\n]*", "", gap)
        gap = re.sub(r"/\*.*?\*/", " ", gap, flags=re.S)
        pieces.append(gap)
        pieces.append(text[t.start:t.end])
        prev = t.end
    out = "".join(pieces).strip()
    lines = [ln.rstrip() for ln in out.split("\n") if ln.strip()]
    if len(lines) > 1:
        indent = min(len(ln) - len(ln.lstrip()) for ln in lines[1:])
        first_col = len(text[text.rfind("\n", 0, toks[0].start) + 1:toks[0].start])
        cut = min(indent, first_col) if first_col <= indent else indent
        lines = [lines[0]] + [ln[cut:] if ln[:cut].strip() == "" else ln.lstrip() for ln in lines[1:]]
    return "\n".join(lines)


def with_trail(sig, trail):
    """The declaration with the comment at the end of its line, as the header writes it."""
    return sig + ("  //" + " ".join(trail) if trail else "")


def one_line(sig):
    s = " ".join(sig.split())
    s = re.sub(r"\(\s+", "(", s)
    s = re.sub(r"\s+\)", ")", s)
    return s


def skip_balanced(toks, i, open_, close):
    """Index just past the bracket that closes toks[i] (which is `open_`)."""
    depth = 0
    while i < len(toks):
        t = toks[i].text if toks[i].kind == "op" else None
        if t == open_:
            depth += 1
        elif t == close:
            depth -= 1
            if depth == 0:
                return i + 1
        elif open_ == "<" and t == ">>":
            depth -= 2
            if depth <= 0:
                return i + 1
        i += 1
    raise ReferenceError(f"line {toks[-1].line if toks else 0}: an unclosed {open_!r}")


def code_only(toks):
    return [t for t in toks if t.kind not in ("comment", "blank", "pp")]


def strip_prefixes(code):
    """The declaration without its template head, requires clause and attributes."""
    out, i = [], 0
    while i < len(code):
        t = code[i]
        if t.kind == "id" and t.text == "template" and i + 1 < len(code) and code[i + 1].text == "<":
            i = skip_balanced(code, i + 1, "<", ">")
        elif t.kind == "id" and t.text == "requires" and not out:
            i += 1
            if i < len(code) and code[i].text == "(":
                i = skip_balanced(code, i, "(", ")")
            else:
                while i < len(code) and code[i].kind == "id" or (i < len(code) and code[i].text in ("::", "<")):
                    i = skip_balanced(code, i, "<", ">") if code[i].text == "<" else i + 1
        elif t.text == "[[":
            while i < len(code) and code[i].text != "]]":
                i += 1
            i += 1
        elif t.kind == "id" and t.text in ("__attribute__", "alignas", "__declspec"):
            i += 1
            if i < len(code) and code[i].text == "(":
                i = skip_balanced(code, i, "(", ")")
        else:
            out.append(t)
            i += 1
    return out


def top_level_index(code, text_):
    depth = 0
    for i, t in enumerate(code):
        if t.kind != "op":
            continue
        if t.text in ("(", "[", "{"):
            if depth == 0 and t.text == text_:
                return i
            depth += 1
        elif t.text in (")", "]", "}"):
            depth -= 1
        elif depth == 0 and t.text == text_:
            return i
    return -1


def function_name(code, paren):
    """The name of the call whose parameter list opens at code[paren], or None."""
    if paren == 0:
        return None
    prev = code[paren - 1]
    if prev.kind == "id" and prev.text == "operator":
        return "operator()"
    # operator==, operator bool, operator+= ...
    for back in range(1, 4):
        k = paren - 1 - back
        if k >= 0 and code[k].kind == "id" and code[k].text == "operator":
            rest = code[k + 1:paren]
            if rest[0].kind == "op":
                return "operator" + "".join(t.text for t in rest)
            return "operator " + " ".join(t.text for t in rest)
    if prev.kind == "id":
        name = prev.text
        if paren >= 2 and code[paren - 2].text == "~":
            name = "~" + name
        return name
    return None


SPECIFIERS = {"extern", "static", "inline", "constexpr", "constinit", "consteval", "const",
              "volatile", "thread_local", "mutable", "explicit", "virtual", "friend", "typename",
              "unsigned", "signed"}


class HeaderParser:
    def __init__(self, rel, text):
        self.rel, self.text = rel, text
        self.toks = tokenize(text, rel)
        self.pos = 0
        self.decls = []  # top-level (namespace-scope) declarations in order, notes included
        self.header_comment = []
        self.seen_decl = False
        self.macros = {}  # name -> (params, body) of this header's function-like macros
        self.undefined = set()
        self.lead = None
        self.depth = 0

    def fail(self, line, why):
        raise ReferenceError(f"{self.rel}:{line}: {why}")

    # A scope: the file, a namespace, a linkage block or a class body.
    def parse_scope(self, scope, cls=None, closing=False, public=True, out=None, lead=None):
        self.depth += 1
        try:
            return self.parse_scope_body(scope, cls, closing, public, out, lead)
        finally:
            self.depth -= 1

    def parse_scope_body(self, scope, cls, closing, public, out, lead):
        if self.depth > MAX_NESTING:
            self.fail(self.toks[self.pos].line, f"scopes nested over {MAX_NESTING} deep")
        out = [] if out is None else out
        pending = []  # comment lines above the next declaration
        pending_line = 0
        group = lead  # the group the declaration run below a comment belongs to
        last = None  # the last declaration, for comments at the end of its line
        stmt = []
        while True:
            if self.pos >= len(self.toks):
                if closing or stmt and code_only(stmt):
                    self.fail(self.toks[-1].line if self.toks else 0, "the header ends inside a declaration")
                if pending:  # the header's closing words
                    self.loose_comment(out, pending, pending_line, scope)
                break
            t = self.toks[self.pos]
            if not code_only(stmt):
                if t.kind == "blank":
                    self.pos += 1
                    if pending:
                        self.loose_comment(out, pending, pending_line, scope)
                    pending, group, last = [], None, None
                    continue
                if t.kind == "comment":
                    self.pos += 1
                    if not t.own_line and last is not None and t.line == last.end_line:
                        last.trail.append(t.text)
                        continue
                    if not t.own_line:
                        continue  # after a closing brace: "}  // namespace X"
                    if not pending:
                        pending_line = t.line
                    pending.append(t.text)
                    last = None
                    continue
                if t.kind == "pp":
                    self.pos += 1
                    d = self.directive(t, scope, cls)
                    if d is not None:
                        if pending:
                            group = Group(pending)
                        elif group is None:
                            group = Group([])
                        d.group, pending, last = group, [], None
                        d.end_line = t.line + t.text.count("\n")
                        if public:
                            out.append(d)
                    else:
                        # A comment at the top above the #includes introduces the header.
                        if pending and re.match(r"#\s*include\b", t.text):
                            self.loose_comment(out, pending, pending_line, scope)
                        pending, last = [], None
                    continue
                if t.kind == "op" and t.text == "}":
                    if not closing:
                        self.fail(t.line, "a '}' that closes nothing")
                    if pending and cls is None:  # the namespace's closing words
                        self.loose_comment(out, pending, pending_line, scope)
                    self.pos += 1
                    break
                if t.kind == "op" and t.text == ";":
                    self.pos += 1
                    continue
                # Access labels in a class body.
                if cls is not None and t.kind == "id" and t.text in ("public", "private", "protected") \
                        and self.pos + 1 < len(self.toks) and self.toks[self.pos + 1].text == ":":
                    public = t.text == "public"
                    self.pos += 2
                    pending, group, last = [], None, None
                    continue
                stmt = []
            # Inside a declaration: gather up to ';' or a '{' at depth 0.
            self.pos += 1
            if t.kind == "blank":
                continue
            if t.kind == "pp":
                self.fail(t.line, "a preprocessor line inside a declaration")
            stmt.append(t)
            if t.kind != "op":
                continue
            if t.text in ("(", "["):
                self.pos -= 1
                end = skip_balanced(self.toks, self.pos, t.text, ")" if t.text == "(" else "]")
                stmt.extend(self.toks[self.pos + 1:end])
                self.pos = end
                continue
            if t.text == "}":
                self.fail(t.line, "an unmatched '}' inside a declaration")
            if t.text not in (";", "{"):
                continue
            code = code_only(stmt)
            opens_scope = code[0].text == "namespace" or (code[0].text == "extern" and len(code) > 1 and code[1].kind == "str")
            if opens_scope and pending:
                # A comment above a namespace speaks of what follows: the header's opening
                # comment when nothing came before, a note otherwise.
                inner = scope
                if code[0].text == "namespace":
                    name = "".join(t.text for t in code[1:-1])
                    inner = (scope + "::" if scope and name else scope) + name
                if not self.loose_comment(out, pending, pending_line, inner):
                    # It also covers the namespace's first declarations.
                    self.lead = Group(pending, lead=True)
                pending, group = [], None
            made, ended = self.statement(stmt, scope, cls, public, out)
            if isinstance(made, list):  # an anonymous union's members
                if public:
                    out.extend(made)
                made = None
            if made is not None:
                if pending:
                    group = Group(pending)
                elif group is None:
                    group = Group([])
                made.group = group
                # Comments written inside a multi-line declaration belong to it.
                made.comment.extend(tk.text for tk in stmt if tk.kind == "comment" and tk.own_line)
                if public and made.kind != "skip":
                    out.append(made)
                    self.seen_decl = True
                last = made if ended else None
            else:
                last = None
            pending, stmt = [], []
        return out

    def loose_comment(self, out, lines, line, scope):
        if not self.seen_decl and not self.header_comment and not self.decls and not out:
            self.header_comment = lines
            return True
        note = Decl("note", "", "", line, scope)
        note.comment = lines
        note.end_line = line
        out.append(note)
        return False

    def directive(self, t, scope, cls):
        m = re.match(r"#\s*(\w+)\s*(.*)", t.text, re.S)
        if not m:
            return None
        word, rest = m.group(1), m.group(2)
        if word == "undef":
            self.undefined.add(rest.strip())
            return None
        if word != "define":
            return None
        mm = re.match(r"([A-Za-z_]\w*)(\([^)]*\))?", rest)
        if not mm:
            self.fail(t.line, "a #define without a name")
        name, params = mm.group(1), mm.group(2)
        body = rest[mm.end():].replace("\\\n", " ")
        if params:
            self.macros[name] = ([p.strip() for p in params[1:-1].split(",")], body)
            sig = f"#define {name}{params}"
        else:
            sig = "#define " + " ".join(rest.replace("\\\n", " ").split())
        d = Decl("macro", name, sig, t.line, scope, cls)
        return d

    def statement(self, stmt, scope, cls, public, out):
        """Classifies one declaration; returns (Decl or None, whether it ended on its line)."""
        code = code_only(stmt)
        line = code[0].line
        last_tok = code[-1]
        if last_tok.text == "{":
            return self.opening(stmt, code, scope, cls, public, out)
        # A ';'-terminated declaration.
        src = source_text(self.text, [t for t in stmt])
        body = strip_prefixes(code[:-1])
        if not body:
            return None, True
        first = body[0].text
        end_line = last_tok.line
        if first in ("static_assert", "friend") or [t.text for t in code[:2]] == ["extern", "template"] or \
                (first == "using" and len(body) > 1 and body[1].text == "namespace"):
            return None, True
        if first in ("struct", "class", "union", "enum") and len(body) <= 3 and \
                all(t.kind == "id" or t.text == "::" for t in body):
            return None, True  # a forward declaration
        if first == "using":
            eq = top_level_index(body, "=")
            if eq > 0:
                d = Decl("alias", body[1].text, src, line, scope, cls)
            else:
                d = Decl("using", body[-1].text, src, line, scope, cls)
        elif first == "typedef":
            names = [t.text for t in body if t.kind == "id"]
            d = Decl("alias", names[-1], src, line, scope, cls)
        else:
            d = self.declarator(body, src, line, scope, cls)
        d.end_line = end_line
        return d, True

    def declarator(self, body, src, line, scope, cls):
        paren = top_level_index(body, "(")
        eq = top_level_index(body, "=")
        if eq > 0 and body[eq - 1].text == "operator":
            eq = -1 if top_level_index(body[eq + 1:], "=") < 0 else eq + 1 + top_level_index(body[eq + 1:], "=")
        brace = top_level_index(body, "{")
        if paren >= 0 and (eq < 0 or paren < eq) and (brace < 0 or paren < brace):
            pointer = paren + 2 < len(body) and body[paren + 1].text in ("*", "&") and body[paren + 2].kind == "id"
            name = None if pointer else function_name(body, paren)
            if pointer:
                # A pointer to a function: int32_t (*init)(...).
                d = Decl("field" if cls else "variable", body[paren + 2].text, src, line, scope, cls)
                d.covered_by_parent = cls is not None
                return d
            if name is None:
                self.fail(line, "a declaration this tool cannot read: " + one_line(src))
            kind = "method" if cls else "call"
            if self.special(body, name, cls):
                kind = "special"
            return Decl(kind, name, src, line, scope, cls)
        # A variable, constant or field: the last name before '=', '{' or '['.
        stop = min([k for k in (eq, brace, top_level_index(body, "[")) if k >= 0] or [len(body)])
        names = [t for t in body[:stop] if t.kind == "id" and t.text not in SPECIFIERS]
        if not names:
            self.fail(line, "a declaration without a name: " + one_line(src))
        words = {t.text for t in body[:stop]}
        if cls is not None and "static" not in words:
            kind = "field"
        elif "constexpr" in words or ("const" in words and "extern" not in words):
            kind = "constant"
        elif "extern" in words and "const" in words and "*" not in words:
            kind = "constant"
        else:
            kind = "variable"
        name = names[-1].text
        # Several declarators (float X = 0, Y = 0;): every name they declare.
        more, depth = [], 0
        for k, t in enumerate(body):
            if t.text in ("(", "[", "{", "<"):
                depth += 1
            elif t.text in (")", "]", "}", ">"):
                depth -= 1
            elif t.text == "," and depth == 0 and k + 1 < len(body) and body[k + 1].kind == "id":
                more.append(body[k + 1].text)
        d = Decl(kind, ", ".join([name] + more), src, line, scope, cls)
        d.covered_by_parent = kind == "field"
        return d

    @staticmethod
    def special(body, name, cls):
        """Copy and move members, destructors, defaulted or deleted ones: no comment needed."""
        txt = " ".join(t.text for t in body)
        if name.startswith("~") or re.search(r"=\s*(default|delete)\s*$", txt):
            return True
        if cls is None:
            return False
        own = cls.name
        if name in (own, "operator="):
            params = txt[txt.find("(") + 1:txt.rfind(")")].replace(" ", "")
            return re.fullmatch(rf"(const)?{re.escape(own)}(&|&&)(\w+)?", params) is not None
        return False

    def opening(self, stmt, code, scope, cls, public, out):
        """A declaration that reached a '{': a scope, a body, an initialiser or a list."""
        head = strip_prefixes(code[:-1])
        line = code[0].line
        words = [t.text for t in head]
        if words and words[0] == "namespace":
            name = "".join(words[1:])
            inner = (scope + "::" if scope and name else scope) + name if name else scope
            # A DETAIL namespace holds the engine's own workings, shared between its headers.
            hidden = name.split("::")[-1].lower() == "detail"
            lead, self.lead = self.lead, None
            self.parse_scope(inner, None, closing=True, public=public and not hidden, out=out, lead=lead)
            return None, False
        if words[:2] == ["extern", '"C"'] or (len(head) == 2 and head[0].text == "extern" and head[1].kind == "str"):
            self.parse_scope(scope, None, closing=True, public=public, out=out)
            return None, False
        if words and words[0] in ("struct", "class", "union"):
            return self.class_body(stmt, head, words, scope, cls, public)
        if words and words[0] == "enum":
            return self.enum_body(stmt, head, words, scope, cls, public)
        paren = top_level_index(head, "(")
        eq = top_level_index(head, "=")
        if paren >= 0 and (eq < 0 or paren < eq):
            # A call defined here: its signature, without the body.
            paren_close = skip_balanced(head, paren, "(", ")")
            init = next((k for k in range(paren_close, len(head)) if head[k].text == ":"), -1)
            self.pos -= 1
            if init >= 0 and head[-1].kind == "id":
                # A constructor's initialiser list: name{...} or name(...), then the body.
                while True:
                    t = self.toks[self.pos]
                    self.pos = skip_balanced(self.toks, self.pos, t.text, "}" if t.text == "{" else ")")
                    while self.toks[self.pos].kind in ("comment", "blank"):
                        self.pos += 1
                    if self.toks[self.pos].text == "{":
                        break
                    while self.pos < len(self.toks) and self.toks[self.pos].text not in ("{", "("):
                        self.pos += 1
                    if self.pos >= len(self.toks):
                        self.fail(line, "a constructor's initialiser list never ends")
            if init >= 0:
                head = head[:init]
                stmt = stmt[:stmt.index(code[code.index(head[-1]) + 1])] + [code[-1]]
            self.pos = skip_balanced(self.toks, self.pos, "{", "}")
            trailing = [t for t in stmt[:-1]]
            src = source_text(self.text, trailing) + ";"
            d = self.declarator(head, src, line, scope, cls)
            d.end_line = self.toks[self.pos - 1].line
            return d, True
        # A brace initialiser: keep reading the declaration.
        self.pos -= 1
        end = skip_balanced(self.toks, self.pos, "{", "}")
        rest = self.toks[self.pos + 1:end]
        stmt.extend(rest)
        self.pos = end
        # Read on up to the ';' (the caller's loop expects the whole statement here).
        while self.pos < len(self.toks) and self.toks[self.pos].text != ";":
            t = self.toks[self.pos]
            if t.kind == "op" and t.text == "{":
                end = skip_balanced(self.toks, self.pos, "{", "}")
                stmt.extend(self.toks[self.pos:end])
                self.pos = end
                continue
            if t.kind != "blank":
                stmt.append(t)
            self.pos += 1
        if self.pos >= len(self.toks):
            self.fail(line, "a declaration never ends with ';'")
        stmt.append(self.toks[self.pos])
        self.pos += 1
        return self.statement(stmt, scope, cls, public, out)

    def class_body(self, stmt, head, words, scope, cls, public):  # noqa: C901
        line = head[0].line
        colon = next((k for k, t in enumerate(head) if t.text == ":" ), len(head))
        names = [t for t in head[1:colon] if t.kind == "id" and t.text not in ("final", "alignas")]
        name = names[0].text if names else ""
        d = Decl("class", name, "", line, scope, cls)
        d.head = one_line(source_text(self.text, code_only(stmt)[:-1]))
        default_public = words[0] != "class"
        members = self.parse_scope(scope, d, closing=True, public=default_public)
        # Declarators after the body (struct {...} NAME;), then the ';'.
        after = []
        while self.pos < len(self.toks) and self.toks[self.pos].text != ";":
            if self.toks[self.pos].kind not in ("blank", "comment"):
                after.append(self.toks[self.pos])
            self.pos += 1
        self.pos += 1
        d.end_line = self.toks[self.pos - 1].line
        if not name:
            # An anonymous union or struct: its members are the enclosing type's.
            for m in members:
                m.parent = cls
            return (members if cls is not None else None), True
        d.members = members
        d.sig = d.head + " { ... };" if members else d.head + " {};"
        return d, True

    def enum_body(self, stmt, head, words, scope, cls, public):
        line = head[0].line
        colon = next((k for k, t in enumerate(head) if t.text == ":"), len(head))
        names = [t.text for t in head[1:colon] if t.kind == "id" and t.text not in ("class", "struct")]
        d = Decl("enum", names[0] if names else "", "", line, scope, cls)
        end = skip_balanced(self.toks, self.pos - 1, "{", "}")
        inner = self.toks[self.pos:end - 1]
        self.pos = end
        while self.pos < len(self.toks) and self.toks[self.pos].text != ";":
            self.pos += 1
        if self.pos >= len(self.toks):
            self.fail(line, "an enum never ends with ';'")
        self.pos += 1
        d.end_line = self.toks[self.pos - 1].line
        d.head = one_line(source_text(self.text, head))
        # Values: split at commas; comments above a value or at the end of its line are its own.
        values, pending, cur = [], [], []
        for t in inner:
            if t.kind == "comment":
                if not t.own_line and values and cur == [] and values[-1].end_line == t.line:
                    values[-1].trail.append(t.text)
                elif not t.own_line and cur:
                    pending.append(t.text)
                else:
                    pending.append(t.text)
                continue
            if t.kind in ("blank", "pp"):
                if t.kind == "blank":
                    pending = []
                continue
            if t.text == "," and cur:
                values.append(self.value(cur, pending, scope, d))
                pending, cur = [], []
                continue
            cur.append(t)
        if cur:
            values.append(self.value(cur, pending, scope, d))
        # An enum filled from this header's X-macro table: spell the values out.
        expanded = []
        for v in values:
            rows = self.expand(v.sig)
            if rows is None:
                expanded.append(v)
            else:
                for name, sig in rows:
                    e = Decl("value", name, sig, v.line, scope, d)
                    e.covered_by_parent, e.end_line = True, v.line
                    expanded.append(e)
        d.members = expanded
        body = "\n".join("".join("  //" + c + "\n" for c in v.comment) + "  " + with_trail(v.sig + ",", v.trail)
                          for v in expanded)
        d.sig = d.head + " {\n" + body + "\n};"
        return d, True

    def value(self, toks, pending, scope, enum):
        sig = " ".join(t.text for t in toks)
        sig = re.sub(r" ?(::|\(|\)) ?", lambda m: m.group(1) if m.group(1) != ")" else ")", sig)
        sig = re.sub(r"\s*,", ",", sig)
        v = Decl("value", toks[0].text, sig, toks[0].line, scope, enum)
        v.comment = list(pending)
        v.covered_by_parent = True
        v.end_line = toks[-1].line
        return v

    def expand(self, sig):
        m = re.fullmatch(r"(\w+)\((\w+)\)", sig.replace(" ", ""))
        if not m or m.group(1) not in self.macros or m.group(2) not in self.macros:
            return None
        table, row = self.macros[m.group(1)], self.macros[m.group(2)]
        if len(table[0]) != 1:
            return None
        rows = []
        for call in re.finditer(rf"\b{re.escape(table[0][0])}\s*\(([^()]*)\)", table[1]):
            args = [a.strip() for a in call.group(1).split(",")]
            if len(args) != len(row[0]):
                return None
            body = row[1]
            for p, a in zip(row[0], args):
                body = re.sub(rf"\b{re.escape(p)}\b", a, body)
            body = body.strip().rstrip(",").strip()
            rows.append((args[0], body))
        return rows

    def parse(self):
        # A macro the header #undefs again is its own working, not a name a game sees.
        self.decls = [d for d in self.parse_scope("") if not (d.kind == "macro" and d.name in self.undefined)]
        return self.decls
