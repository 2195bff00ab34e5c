#!/usr/bin/python3
"""Reads a file with pandoc (in the format its extension names) and prints its text one block per
line, so that tests can compare what an independent reader found in our files:
  TITLE text        the document title (metadata)
  H<level> text     a heading
  P text            a paragraph that has text
  LI text           an item of a bullet list
  ROW a|b|c         a table row (header rows first)
Inline text keeps pandoc's own spacing: a space is one space, a line break is "\\n"
written as the two characters backslash and n, a tab as "\\t"."""
import json
import subprocess
import sys


def inlines(items):
    out = []
    for item in items:
        kind = item["t"]
        if kind == "Str":
            out.append(item["c"])
        elif kind in ("Space", "SoftBreak"):
            out.append(" ")
        elif kind == "LineBreak":
            out.append("\\n")
        elif kind in ("Strong", "Emph", "Underline", "Strikeout", "SmallCaps", "Superscript", "Subscript"):
            out.append(inlines(item["c"]))
        elif kind == "Span":
            out.append(inlines(item["c"][1]))
        elif kind == "Quoted":
            quote = '"' if item["c"][0]["t"] == "DoubleQuote" else "'"
            out.append(quote + inlines(item["c"][1]) + quote)
        elif kind == "Code":
            out.append(item["c"][1])
        else:
            out.append("<%s>" % kind)
    return "".join(out)


def cell_text(blocks):
    return " ".join(inlines(b["c"]) for b in blocks if b["t"] in ("Para", "Plain"))


def rows_of(table):
    _, _, _, head, bodies, foot = table
    rows = list(head[1])
    for body in bodies:
        rows.extend(body[2])
        rows.extend(body[3])
    rows.extend(foot[1])
    return rows


def blocks(items, out):
    for block in items:
        kind = block["t"]
        if kind == "Header":
            out.append("H%d %s" % (block["c"][0], inlines(block["c"][2])))
        elif kind in ("Para", "Plain"):
            if inlines(block["c"]):  # empty paragraphs (page breaks, anchors) are left out
                out.append("P " + inlines(block["c"]))
        elif kind == "BulletList":
            for item in block["c"]:
                out.append("LI " + " ".join(inlines(b["c"]) for b in item if b["t"] in ("Para", "Plain")))
        elif kind == "Table":
            for row in rows_of(block["c"]):
                out.append("ROW " + "|".join(cell_text(cell[4]) for cell in row[1]))
        elif kind == "Div":
            blocks(block["c"][1], out)
        elif kind == "LineBlock":
            out.append("P " + "\\n".join(inlines(line) for line in block["c"]))
        elif kind == "CodeBlock":
            out.append("CODE " + block["c"][1])
        else:
            out.append("<%s>" % kind)


path = sys.argv[1]
extension = path.rsplit(".", 1)[-1]
source = {"md": "markdown"}.get(extension, extension)
run = subprocess.run(["pandoc", "-f", source, "-t", "json", path], capture_output=True)
if run.returncode:
    sys.exit(run.stderr.decode())
document = json.loads(run.stdout)
lines = []
title = document.get("meta", {}).get("title")
if title and title["t"] == "MetaInlines":
    lines.append("TITLE " + inlines(title["c"]))
blocks(document["blocks"], lines)
sys.stdout.write("\n".join(lines) + "\n")
