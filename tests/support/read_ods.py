#!/usr/bin/python3
"""Prints what odfpy finds in an OpenDocument file's tables, for tests to compare:
  TABLE <name> columns=<repeated column count>
  <row>,<column> <value-type> <office:value> <repr(text)>   one line per cell
Row and column numbers start at 1; the text is the cell's paragraphs joined by "\\n"."""
import sys

from odf import teletype
from odf.opendocument import load
from odf.table import Table, TableCell, TableColumn, TableRow
from odf.text import P

document = load(sys.argv[1])
for table in document.getElementsByType(Table):
    columns = sum(int(column.getAttribute("numbercolumnsrepeated") or 1)
                  for column in table.getElementsByType(TableColumn))
    print("TABLE %s columns=%d" % (table.getAttribute("name"), columns))
    for r, row in enumerate(table.getElementsByType(TableRow), 1):
        for c, cell in enumerate(row.getElementsByType(TableCell), 1):
            text = "\n".join(teletype.extractText(p) for p in cell.getElementsByType(P))
            print("%d,%d %s %s %r" % (r, c, cell.getAttribute("valuetype") or "", cell.getAttribute("value") or "", text))
