#!/usr/bin/env python3
"""Turns the translations in po/*.po into the constant tables of src/data/i18n_data.{h,cpp}.

po/en.po defines the keys (msgid) and the English texts (msgstr); every other po/<code>.po
holds the same keys with that language's texts, an empty msgstr meaning "not translated yet"
(the program then shows English). The languages, their names in themselves and their writing
direction come from tools/native_names.tsv.

    tools/gen_i18n.py              check po/ and rewrite src/data/i18n_data.{h,cpp}
    tools/gen_i18n.py --check      check po/ and exit 1 when the tables are not up to date
    tools/gen_i18n.py --update-po  rewrite every po/<code>.po but en.po in key order with the
                                   current English texts as notes, keeping all translations

Options for other trees (used by the tests): --po-dir DIR, --names FILE, --out-dir DIR.

Every problem is reported as file:line: message, and the exit status is 1: an unknown key, a
missing key, a key given twice, a malformed entry, text that is not UTF-8, or a translation
whose %s/%d sequence differs from the English text.
"""

import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

KEY_RE = re.compile(r"^[a-z0-9_]+(\.[a-z0-9_]+)+$")
CODE_RE = re.compile(r"^[a-z]{2,3}(_[A-Z]{2})?$")


class Errors:
    def __init__(self):
        self.items = []

    def add(self, where, message):
        self.items.append(f"{where}: {message}")

    def __bool__(self):
        return bool(self.items)


# ---------------------------------------------------------------------------------------------
# Placeholders

def conversions(text):
    """The sequence of conversions in a printf format ("s", "d", "ss"...), or None when the
    text uses anything but %s, %d and %% (widths, flags, %ld, positional forms, a lone %)."""
    out = []
    i = 0
    while i < len(text):
        if text[i] != "%":
            i += 1
            continue
        nxt = text[i + 1] if i + 1 < len(text) else ""
        if nxt == "%":
            i += 2
            continue
        if nxt in ("s", "d"):
            out.append(nxt)
            i += 2
            continue
        return None
    return "".join(out)


# ---------------------------------------------------------------------------------------------
# Reading .po files

ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "a": "\a", "b": "\b", "f": "\f", "v": "\v",
           "\\": "\\", '"': '"', "'": "'", "?": "?"}


def parse_string(s, where, errors):
    """One quoted PO string (with C escapes) to text; None after reporting an error."""
    s = s.strip()
    if len(s) < 2 or s[0] != '"' or s[-1] != '"':
        errors.add(where, f"expected a quoted string, found {s!r}")
        return None
    body = s[1:-1]
    out = []
    i = 0
    while i < len(body):
        c = body[i]
        if c == '"':
            errors.add(where, "unescaped quote inside a string")
            return None
        if c != "\\":
            out.append(c)
            i += 1
            continue
        if i + 1 >= len(body):
            errors.add(where, "string ends with a lone backslash")
            return None
        e = body[i + 1]
        if e in ESCAPES:
            out.append(ESCAPES[e])
            i += 2
            continue
        m = re.match(r"[0-7]{1,3}", body[i + 1:]) if e in "01234567" else None
        if m is None and e == "x":
            m = re.match(r"x([0-9a-fA-F]{1,2})", body[i + 1:])
        if m is None:
            errors.add(where, f"unknown escape \\{e}")
            return None
        value = int(m.group(0), 8) if e != "x" else int(m.group(1), 16)
        if value == 0 or value > 0x7F:
            errors.add(where, f"escape \\{m.group(0)} is not allowed: write the character itself")
            return None
        out.append(chr(value))
        i += 1 + len(m.group(0))
    return "".join(out)


class Entry:
    def __init__(self, line):
        self.line = line
        self.msgid = None
        self.msgstr = None
        self.flags = set()
        self.notes = []


def parse_po(path, errors):
    """All entries of a .po file (the header first when present); None when unreadable."""
    try:
        with open(path, "rb") as f:
            raw = f.read()
    except OSError as e:
        errors.add(path, f"cannot read: {e.strerror}")
        return None
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        line = raw[:e.start].count(b"\n") + 1
        errors.add(f"{path}:{line}", "not valid UTF-8")
        return None
    if text.startswith("\ufeff"):
        text = text[1:]

    entries = []
    cur = None   # entry being read
    field = None  # "msgid" or "msgstr": where continuation strings go
    bad = False

    def finish():
        nonlocal cur, field, bad
        if cur is not None:
            if cur.msgid is None and cur.msgstr is None:
                pass  # comments only
            elif cur.msgid is None:
                errors.add(f"{path}:{cur.line}", "msgstr without msgid")
                bad = True
            elif cur.msgstr is None:
                errors.add(f"{path}:{cur.line}", f"msgid {cur.msgid!r} has no msgstr")
                bad = True
            else:
                entries.append(cur)
        cur = None
        field = None

    for n, line in enumerate(text.split("\n"), 1):
        where = f"{path}:{n}"
        stripped = line.strip()
        if not stripped:
            finish()
            continue
        if stripped.startswith("#~"):
            continue  # obsolete entry kept by gettext tools; never used
        if stripped.startswith("#"):
            if cur is not None and cur.msgstr is not None:
                finish()
            if cur is None:
                cur = Entry(n)
            if stripped.startswith("#,"):
                cur.flags.update(f.strip() for f in stripped[2:].split(","))
            elif stripped.startswith("#."):
                cur.notes.append(stripped[2:].strip())
            continue
        keyword, rest = (stripped.split(None, 1) + [""])[:2]
        if keyword in ("msgctxt", "msgid_plural") or keyword.startswith("msgstr["):
            errors.add(where, f"{keyword} is not used by these tables")
            bad = True
            cur, field = None, None
            continue
        if keyword == "msgid":
            if cur is not None and (cur.msgid is not None or cur.msgstr is not None):
                finish()
            if cur is None:
                cur = Entry(n)
            value = parse_string(rest, where, errors)
            if value is None:
                bad = True
            cur.msgid = value if value is not None else ""
            field = "msgid"
            continue
        if keyword == "msgstr":
            if cur is None or cur.msgid is None or cur.msgstr is not None:
                errors.add(where, "msgstr without msgid")
                bad = True
                cur, field = None, None
                continue
            value = parse_string(rest, where, errors)
            if value is None:
                bad = True
            cur.msgstr = value if value is not None else ""
            field = "msgstr"
            continue
        if stripped.startswith('"'):
            if cur is None or field is None:
                errors.add(where, "string outside an entry")
                bad = True
                continue
            value = parse_string(stripped, where, errors)
            if value is None:
                bad = True
                continue
            setattr(cur, field, getattr(cur, field) + value)
            continue
        errors.add(where, f"not a PO line: {stripped[:40]!r}")
        bad = True
    finish()
    return None if bad else entries


def header_fields(entry):
    fields = {}
    for line in entry.msgstr.split("\n"):
        name, sep, value = line.partition(":")
        if sep:
            fields[name.strip().lower()] = value.strip()
    return fields


def read_language(path, code, errors):
    """{key: (text, line)} of one .po file, the header checked and taken out. Fuzzy entries
    count as untranslated: a translator marked them as not yet right."""
    entries = parse_po(path, errors)
    if entries is None:
        return None
    if not entries or entries[0].msgid != "":
        errors.add(path, "the header entry (msgid \"\") must come first")
        return None
    fields = header_fields(entries[0])
    ok = True
    charset = re.search(r"charset=([^;\s]+)", fields.get("content-type", ""))
    if not charset or charset.group(1).lower() not in ("utf-8", "utf8"):
        errors.add(f"{path}:{entries[0].line}", "header needs Content-Type: text/plain; "
                   "charset=UTF-8")
        ok = False
    if fields.get("language") != code:
        errors.add(f"{path}:{entries[0].line}",
                   f"header says Language: {fields.get('language')!r}, the file is for {code!r}")
        ok = False
    texts = {}
    for e in entries[1:]:
        where = f"{path}:{e.line}"
        if e.msgid == "":
            errors.add(where, "a second header entry (msgid \"\")")
            ok = False
            continue
        if e.msgid in texts:
            errors.add(where, f"duplicate key {e.msgid!r} (first at line {texts[e.msgid][1]})")
            continue
        texts[e.msgid] = ("" if "fuzzy" in e.flags else e.msgstr, e.line)
    return texts if ok else None


def read_names(path, errors):
    """[(code, native name, rtl)] from the names table, in table order."""
    langs = []
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.read().split("\n")
    except (OSError, UnicodeDecodeError) as e:
        errors.add(path, f"cannot read: {e}")
        return None
    for n, line in enumerate(lines, 1):
        if not line or line.startswith("#"):
            continue
        parts = line.split("\t")
        if len(parts) != 3 or not CODE_RE.match(parts[0]) or not parts[1] or \
                parts[2] not in ("0", "1"):
            errors.add(f"{path}:{n}", "expected: code<TAB>native name<TAB>0 or 1")
            return None
        langs.append((parts[0], parts[1], parts[2] == "1"))
    codes = [c for c, _, _ in langs]
    if codes != sorted(set(codes), key=lambda c: c.encode()):
        errors.add(path, "codes must be unique and in byte order")
        return None
    if "en" not in codes:
        errors.add(path, "English (en) is missing")
        return None
    return langs


def load_all(po_dir, names_path, errors):
    """(keys, langs, tables) with tables[code] = [text or ""] in key order; None on errors."""
    langs = read_names(names_path, errors)
    if langs is None:
        return None
    codes = {c for c, _, _ in langs}
    try:
        present = sorted(f[:-3] for f in os.listdir(po_dir) if f.endswith(".po"))
    except OSError as e:
        errors.add(po_dir, f"cannot list: {e.strerror}")
        return None
    for extra in sorted(set(present) - codes):
        errors.add(os.path.join(po_dir, extra + ".po"),
                   f"no language {extra!r} in {os.path.relpath(names_path, ROOT)}")
    for missing in sorted(codes - set(present)):
        errors.add(os.path.join(po_dir, missing + ".po"), "file missing")
    if errors:
        return None

    en_path = os.path.join(po_dir, "en.po")
    english = read_language(en_path, "en", errors)
    if english is None:
        return None
    keys = sorted(english, key=lambda k: k.encode())
    signature = {}
    for k in keys:
        text, line = english[k]
        where = f"{en_path}:{line}"
        if not KEY_RE.match(k):
            errors.add(where, f"key {k!r} is not lower-case dotted words")
        if not text:
            errors.add(where, f"English text of {k!r} is empty")
        signature[k] = conversions(text)
        if signature[k] is None:
            errors.add(where, f"English text of {k!r} uses a placeholder other than %s, %d, %%")
    if errors:
        return None

    tables = {"en": [english[k][0] for k in keys]}
    for code, _, _ in langs:
        if code == "en":
            continue
        path = os.path.join(po_dir, code + ".po")
        texts = read_language(path, code, errors)
        if texts is None:
            continue
        for k, (text, line) in texts.items():
            where = f"{path}:{line}"
            if k not in english:
                errors.add(where, f"unknown key {k!r} (not in en.po)")
            elif text and conversions(text) != signature[k]:
                got = conversions(text)
                errors.add(where, f"placeholders of {k!r} are "
                           f"{'invalid' if got is None else repr(got)}, English has "
                           f"{signature[k]!r} (only %s, %d and %% are allowed, in the "
                           "English order)")
        for k in keys:
            if k not in texts:
                errors.add(path, f"missing key {k!r}")
        tables[code] = [texts.get(k, ("", 0))[0] for k in keys]
    if errors:
        return None
    return keys, langs, tables


# ---------------------------------------------------------------------------------------------
# Writing the tables

def c_string(text):
    out = ['"']
    for ch in text:
        if ch == "\\":
            out.append("\\\\")
        elif ch == '"':
            out.append('\\"')
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\t":
            out.append("\\t")
        elif ord(ch) < 0x20 or ord(ch) == 0x7F:
            out.append(f"\\{ord(ch):03o}")
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


def ident(code):
    return "VALUES_" + code


GENERATED = ("// Generated by tools/gen_i18n.py from po/*.po and tools/native_names.tsv.\n"
             "// Do not edit: change the .po files, then run tools/gen_i18n.py.\n")


def render_header(keys, langs):
    out = [GENERATED, "#pragma once\n\n",
           "// The compiled translation tables. KEYS is sorted by strcmp, and every VALUES_<code>\n"
           "// array holds one text per key in that order; nullptr marks a text that is not\n"
           "// translated, which the lookup replaces by English.\n",
           "namespace i18n_data {\n\n",
           f"inline constexpr int KEY_COUNT = {len(keys)};\n",
           f"inline constexpr int LANG_COUNT = {len(langs)};\n\n",
           "struct LangEntry {\n"
           "    const char* code;        // \"de\", \"zh_TW\"\n"
           "    const char* native_name; // the language's name in itself\n"
           "    bool rtl;                // written right to left\n"
           "    const char* const* values; // KEY_COUNT texts in the order of KEYS\n"
           "};\n\n",
           "extern const char* const KEYS[KEY_COUNT];\n"]
    for code, _, _ in langs:
        out.append(f"extern const char* const {ident(code)}[KEY_COUNT];\n")
    out.append("extern const LangEntry LANGS[LANG_COUNT];\n\n} // namespace i18n_data\n")
    return "".join(out)


def render_source(keys, langs, tables):
    out = [GENERATED, '#include "data/i18n_data.h"\n\n', "namespace i18n_data {\n\n",
           "const char* const KEYS[KEY_COUNT] = {\n"]
    out += [f"    {c_string(k)},\n" for k in keys]
    out.append("};\n")
    for code, name, _ in langs:
        values = tables[code]
        out.append(f"\n// {name} ({code})\n")
        if not any(values):
            out.append(f"const char* const {ident(code)}[KEY_COUNT] = {{}}; // nothing "
                       "translated yet\n")
            continue
        out.append(f"const char* const {ident(code)}[KEY_COUNT] = {{\n")
        for k, v in zip(keys, values):
            out.append(f"    /* {k} */ {c_string(v) if v else 'nullptr'},\n")
        out.append("};\n")
    out.append("\nconst LangEntry LANGS[LANG_COUNT] = {\n")
    for code, name, rtl in langs:
        out.append(f"    {{{c_string(code)}, {c_string(name)}, {'true' if rtl else 'false'}, "
                   f"{ident(code)}}},\n")
    out.append("};\n\n} // namespace i18n_data\n")
    return "".join(out)


# ---------------------------------------------------------------------------------------------
# Rewriting the translators' files

def po_string(keyword, text):
    """keyword "text" the way gettext tools write it: long texts wrapped after spaces."""
    escaped = c_string(text)[1:-1]
    if len(keyword) + len(escaped) + 3 <= 79 and "\\n" not in escaped[:-2]:
        return f'{keyword} "{escaped}"\n'
    chunks = []
    for segment in re.findall(r".*?\\n|.+$", escaped):
        cur = ""
        for piece in re.findall(r"[^ ]+ *| +", segment):
            if cur and len(cur) + len(piece) > 76:
                chunks.append(cur)
                cur = ""
            cur += piece
        if cur:
            chunks.append(cur)
    return f'{keyword} ""\n' + "".join(f'"{c}"\n' for c in chunks)


def default_header(code):
    return ("Project-Id-Version: Velmora\n"
            f"Language: {code}\n"
            "MIME-Version: 1.0\n"
            "Content-Type: text/plain; charset=UTF-8\n"
            "Content-Transfer-Encoding: 8bit\n")


def update_po(po_dir, names_path, errors):
    langs = read_names(names_path, errors)
    if langs is None:
        return False
    en_path = os.path.join(po_dir, "en.po")
    english = read_language(en_path, "en", errors)
    if english is None:
        return False
    keys = sorted(english, key=lambda k: k.encode())
    for code, name, _ in langs:
        if code == "en":
            continue
        path = os.path.join(po_dir, code + ".po")
        old, header, fuzzy = {}, default_header(code), set()
        if os.path.exists(path):
            entries = parse_po(path, errors)
            if entries is None:
                continue
            if entries and entries[0].msgid == "":
                header = entries[0].msgstr
                entries = entries[1:]
            for e in entries:
                old[e.msgid] = e.msgstr
                if "fuzzy" in e.flags:
                    fuzzy.add(e.msgid)
        for gone in sorted(set(old) - set(keys)):
            if old[gone]:
                print(f"{path}: dropping the translation of removed key {gone!r}",
                      file=sys.stderr)
        out = [f"# Velmora user interface texts: {name} ({code}).\n"
               "# msgid is the key; the note above it is the English text to translate.\n"
               "# An empty msgstr shows the English text. Keep every %s and %d of the English\n"
               "# text, in the same order; write a literal percent sign as %%.\n",
               po_string("msgid", ""), po_string("msgstr", header)]
        for k in keys:
            out.append("\n")
            out.append(f"#. {c_string(english[k][0])[1:-1]}\n")
            if k in fuzzy:
                out.append("#, fuzzy\n")
            out.append(po_string("msgid", k))
            out.append(po_string("msgstr", old.get(k, "")))
        text = "".join(out)
        current = None
        if os.path.exists(path):
            with open(path, encoding="utf-8") as f:
                current = f.read()
        if current != text:
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
    return not errors


# ---------------------------------------------------------------------------------------------

def main(argv):
    args = argv[1:]
    opts = {"--po-dir": os.path.join(ROOT, "po"),
            "--names": os.path.join(HERE, "native_names.tsv"),
            "--out-dir": os.path.join(ROOT, "src", "data")}
    modes = set()
    i = 0
    while i < len(args):
        a = args[i]
        if a in ("--check", "--update-po"):
            modes.add(a)
        elif a in opts and i + 1 < len(args):
            opts[a] = args[i + 1]
            i += 1
        else:
            print(__doc__, file=sys.stderr)
            return 2
        i += 1
    if len(modes) > 1:
        print("gen_i18n: --check and --update-po exclude each other", file=sys.stderr)
        return 2

    errors = Errors()
    if "--update-po" in modes:
        if not update_po(opts["--po-dir"], opts["--names"], errors):
            for e in errors.items:
                print(e, file=sys.stderr)
            print(f"gen_i18n: {len(errors.items)} error(s); po files left as they were",
                  file=sys.stderr)
            return 1
        return 0

    loaded = load_all(opts["--po-dir"], opts["--names"], errors)
    if loaded is None:
        for e in errors.items:
            print(e, file=sys.stderr)
        print(f"gen_i18n: {len(errors.items)} error(s) in the translations; tables not written",
              file=sys.stderr)
        return 1
    keys, langs, tables = loaded
    outputs = {"i18n_data.h": render_header(keys, langs),
               "i18n_data.cpp": render_source(keys, langs, tables)}
    stale = []
    for name, text in outputs.items():
        path = os.path.join(opts["--out-dir"], name)
        try:
            with open(path, encoding="utf-8") as f:
                current = f.read()
        except (OSError, UnicodeDecodeError):
            current = None
        if current == text:
            continue
        if "--check" in modes:
            stale.append(path)
        else:
            os.makedirs(opts["--out-dir"], exist_ok=True)
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
    if stale:
        for path in stale:
            print(f"gen_i18n: {path} is out of date with po/", file=sys.stderr)
        print("gen_i18n: run tools/gen_i18n.py and commit the result", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
