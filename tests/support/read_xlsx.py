#!/usr/bin/python3
"""Prints what openpyxl finds in a workbook, for tests to compare:
  SHEET <title> freeze=<the top left cell below and right of frozen panes, or None>
  <cell> <n|s> <bold|plain> <repr(value)>     one line per non-empty cell, row by row
n is a number (int or float), s a string."""
import sys

import openpyxl

book = openpyxl.load_workbook(sys.argv[1])
for sheet in book.worksheets:
    pane = sheet.sheet_view.pane
    frozen = pane.topLeftCell if pane is not None and pane.state == "frozen" else None
    print("SHEET %s freeze=%s" % (sheet.title, frozen))
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is None:
                continue
            kind = "n" if isinstance(cell.value, (int, float)) else "s"
            weight = "bold" if cell.font is not None and cell.font.b else "plain"
            print("%s %s %s %r" % (cell.coordinate, kind, weight, cell.value))
