#!/usr/bin/env python3
"""The users' guide against the type library and the error tables.

    python3 tools/docs/reference.py check   # fails when docs/ and the sources disagree
    python3 tools/docs/reference.py sync    # rewrites the signature blocks from the IDL
                                            # and makes a skeleton page for a new member

Every member of _Corvane, __Corvane and _MIME (src/registration/corvane.idl) has one
page, docs/reference/<Corvane|MIME>/<Name>.md, that holds its declarations twice: as
they stand in the IDL (an ```idl block) and as Visual Basic sees them (a
```vb signature block). Both must equal what this script derives from the IDL, so a
changed parameter, type, identifier or help string, a new member or a removed one
fails the check. Pages also need their sections ("## Errors", "## Example", ...,
"## By reference" when a parameter is passed by reference) and may not say TODO, and
docs/reference/README.md links every page. docs/errors.md has a table row for every
number the control can report: its own ErrCode values, the automation errors of
src/control/errors.h, and the socket and TLS numbers of src/transport/socket_errors.h.
Every relative link in docs/ must lead to a file, and its #anchor to a heading there.
--root names another source tree (the tests use copies).
"""
import argparse
import pathlib
import re
import sys

IDL = "src/registration/corvane.idl"
INTERFACES = {"_Corvane": "Corvane", "__Corvane": "Corvane", "_MIME": "MIME"}
VB_TYPES = {"short": "Integer", "long": "Long", "BSTR": "String", "VARIANT_BOOL": "Boolean", "VARIANT": "Variant"}


def split_top(text, separator):
    """Splits at `separator` outside brackets and parentheses."""
    parts, depth, start = [], 0, 0
    for i, c in enumerate(text):
        if c in "[(":
            depth += 1
        elif c in "])":
            depth -= 1
        elif c == separator and depth == 0:
            parts.append(text[start:i])
            start = i + 1
    parts.append(text[start:])
    return [p.strip() for p in parts if p.strip()]


class Declaration:
    """One slot of an interface, e.g. `[propget, id(0x6803000b), ...] HRESULT ErrCode(...)`."""

    def __init__(self, interface, text):
        self.interface = interface
        self.text = text + ";"
        m = re.fullmatch(r"\[(.*?)\] (\w+) (\w+)\((.*)\)", text)
        if not m:
            raise ValueError(f"{interface}: cannot read the declaration {text!r}")
        self.attributes = split_top(m.group(1), ",")
        self.returns, self.name = m.group(2), m.group(3)
        self.parameters = []
        for p in split_top(m.group(4), ","):
            pm = re.fullmatch(r"\[(.*?)\] (\w+)(\**) (\w+)", p)
            if not pm:
                raise ValueError(f"{self.name}: cannot read the parameter {p!r}")
            self.parameters.append((split_top(pm.group(1), ","), pm.group(2), pm.group(4)))

    @property
    def kind(self):
        if self.interface == "__Corvane":
            return "event"
        return next((a for a in self.attributes if a in ("propget", "propput")), "method")

    def by_reference(self):
        return [name for attrs, _, name in self.parameters if "out" in attrs and "retval" not in attrs]

    def visual_basic(self):
        params, result = [], None
        for attrs, type_, name in self.parameters:
            vb = VB_TYPES[type_]
            if "retval" in attrs:
                result = vb
            elif self.kind == "event":
                params.append(f"{name} As {vb}")
            elif "optional" in attrs:
                default = next(a[len("defaultvalue("):-1] for a in attrs if a.startswith("defaultvalue("))
                params.append(f"Optional ByVal {name} As {vb} = {default}")
            else:
                params.append(f"{'ByRef' if 'out' in attrs else 'ByVal'} {name} As {vb}")
        head = {"propget": "Property Get", "propput": "Property Let", "event": "Event"}.get(
            self.kind, "Function" if result else "Sub")
        return f"{head} {self.name}({', '.join(params)})" + (f" As {result}" if result else "")


def read_idl(root):
    text = re.sub(r"//[^\n]*", "", (root / IDL).read_text())
    members = {}  # (class, name) -> [Declaration] in slot order
    for interface, cls in INTERFACES.items():
        m = re.search(r"(?:dispinterface|interface) " + re.escape(interface) + r"\b[^{]*\{(.*?)\n\s*\};", text, re.S)
        if not m:
            raise ValueError(f"{IDL}: no interface {interface}")
        body = m.group(1).replace("properties:", "").replace("methods:", "")
        for part in body.split(";"):
            part = " ".join(part.split())
            if part:
                d = Declaration(interface, part)
                members.setdefault((cls, d.name), []).append(d)
    return members


def page_path(root, cls, name):
    return root / "docs" / "reference" / cls / f"{name}.md"


def blocks(text, info):
    """The lines of every fenced block whose info string is `info`."""
    found = re.findall(r"^```" + re.escape(info) + r"[ \t]*\n(.*?)^```", text, re.M | re.S)
    return [" ".join(line.split()) for block in found for line in block.splitlines() if line.strip()]


def required_sections(cls, declarations):
    event = declarations[0].kind == "event"
    return ((["## By reference"] if any(d.by_reference() for d in declarations) else [])
            + ([] if event else ["## Errors"]) + (["## Trace"] if cls == "Corvane" and not event else [])
            + ["## Example"])


def signature_blocks(declarations):
    idl = "\n".join(d.text for d in declarations)
    vb = "\n".join(d.visual_basic() for d in declarations)
    return f"```idl\n{idl}\n```\n\n```vb signature\n{vb}\n```\n"


def check_pages(root, members):
    problems = []
    index = (root / "docs" / "reference" / "README.md")
    index_text = index.read_text() if index.exists() else ""
    for (cls, name), declarations in members.items():
        path = page_path(root, cls, name)
        shown = path.relative_to(root)
        if not path.exists():
            problems.append(f"{shown}: missing: {name} is a member of {declarations[0].interface}")
            continue
        text = path.read_text()
        for info, want in (("idl", [d.text for d in declarations]),
                           ("vb signature", [d.visual_basic() for d in declarations])):
            if blocks(text, info) != want:
                problems.append(f"{shown}: the {info} block differs from the type library:\n    page: "
                                + "\n          ".join(blocks(text, info)) + "\n    IDL:  " + "\n          ".join(want))
        for section in required_sections(cls, declarations):
            if not re.search("^" + re.escape(section) + r"\s*$", text, re.M):
                problems.append(f"{shown}: no section \"{section}\"")
        if "TODO" in text:
            problems.append(f"{shown}: still says TODO")
        if f"({cls}/{name}.md)" not in index_text:
            problems.append(f"docs/reference/README.md: no link to {cls}/{name}.md")
    for path in sorted((root / "docs" / "reference").glob("*/*.md")):
        if (path.parent.name, path.stem) not in members:
            problems.append(f"{path.relative_to(root)}: {path.stem} is no member of {path.parent.name} in {IDL}")
    return problems


ERROR_SECTIONS = ("## Error codes", "## Automation errors", "## Socket and TLS errors")


def error_numbers(root):
    """Every number the control reports, by the section of docs/errors.md that lists it."""
    def numbers(path, pattern):
        return {int(n) for n in re.findall(pattern, (root / path).read_text(), re.M)}
    own = numbers("src/control/corvane.cpp", r"case (\d+): return u\"") | numbers(
        "src/control/corvane.h", r"static constexpr int16_t k\w+ = (\d+);")
    return {
        ERROR_SECTIONS[0]: own,
        ERROR_SECTIONS[1]: numbers("src/control/errors.h", r"^\s*\w+ = (\d+),"),
        ERROR_SECTIONS[2]: numbers("src/transport/socket_errors.h", r"inline constexpr int16_t k\w+ = (\d+);"),
    }


def check_errors(root):
    path = root / "docs" / "errors.md"
    text = path.read_text() if path.exists() else ""
    problems = []
    for heading, wanted in error_numbers(root).items():
        m = re.search("^" + re.escape(heading) + r".*?$(.*?)(?=^## |\Z)", text, re.M | re.S)
        rows = {int(n) for n in re.findall(r"^\| (\d+) \|", m.group(1), re.M)} if m else set()
        problems += [f"docs/errors.md: no row \"| {n} |\" under \"{heading}\"" for n in sorted(wanted - rows)]
    return problems


def slug(heading):
    """The anchor a Markdown renderer gives a heading."""
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def check_links(root):
    """Every relative link of docs/ leads to a file, and its #anchor to a heading there.
    The pictures are build outputs (scripts/docs-pictures.sh) and are not looked for."""
    docs, problems = root / "docs", []
    for page in sorted(docs.rglob("*.md")):
        text = re.sub(r"^```.*?^```", "", page.read_text(), flags=re.M | re.S)
        for target in re.findall(r"\]\(([^)\s]+)\)", text):
            if re.match(r"[a-z]+:", target) or target.startswith("pictures/"):
                continue
            path, _, anchor = target.partition("#")
            file = (page.parent / path).resolve() if path else page
            where = f"{page.relative_to(root)}: link {target}"
            if not file.exists():
                problems.append(f"{where}: no such file")
            elif anchor and file.suffix == ".md":
                headings = re.findall(r"^#+ (.*)$", file.read_text(), re.M)
                if anchor not in {slug(h) for h in headings}:
                    problems.append(f"{where}: no such heading")
    return problems


def skeleton(cls, declarations):
    d = declarations[0]
    sections = "".join(f"\n{s}\n\nTODO\n" for s in required_sections(cls, declarations))
    return f"# {d.name}\n\nTODO: what it does.\n\n{signature_blocks(declarations)}{sections}"


def sync(root, members):
    for (cls, name), declarations in members.items():
        path = page_path(root, cls, name)
        if not path.exists():
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(skeleton(cls, declarations))
            print(f"made {path.relative_to(root)}")
            continue
        text = path.read_text()
        fresh, found = re.subn(r"```idl\n.*?^```\n\n```vb signature\n.*?^```\n",
                               lambda _: signature_blocks(declarations), text, count=1, flags=re.M | re.S)
        if not found:  # a new hand-written page: the blocks go after its first paragraph
            title, summary, rest = (text.split("\n\n", 2) + ["", ""])[:3]
            fresh = f"{title}\n\n{summary}\n\n{signature_blocks(declarations)}\n{rest}"
        if fresh != text:
            path.write_text(fresh)
            print(f"updated {path.relative_to(root)}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("action", choices=["check", "sync"])
    parser.add_argument("--root", type=pathlib.Path, default=pathlib.Path(__file__).resolve().parents[2])
    args = parser.parse_args()
    members = read_idl(args.root)
    if args.action == "sync":
        sync(args.root, members)
        return 0
    problems = check_pages(args.root, members) + check_errors(args.root) + check_links(args.root)
    for p in problems:
        print(p)
    slots = sum(len(d) for d in members.values())
    print(f"{len(members)} members ({slots} slots) against {IDL}: "
          + (f"{len(problems)} problems" if problems else "the guide agrees"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
