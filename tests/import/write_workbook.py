#!/usr/bin/env python3
"""Writes a workbook as another program would: write_workbook.py xls|xlsx FILE < rows.json.

rows.json is a list of rows; a cell is a text, a number, {"sum": [a, b]}
for a number as a spreadsheet's arithmetic leaves it (0.1 + 0.2), or
{"datetime": "2012-05-18 09:07"} for a date-time the spreadsheet recognised."""
import json
import sys


def value(cell):
    if isinstance(cell, dict) and "sum" in cell:
        return sum(cell["sum"])
    if isinstance(cell, dict):
        import datetime
        return datetime.datetime.strptime(cell["datetime"], "%Y-%m-%d %H:%M")
    return cell


def main():
    kind, path = sys.argv[1], sys.argv[2]
    rows = json.load(sys.stdin)
    if kind == "xls":
        import xlwt
        book = xlwt.Workbook(encoding="utf-8")
        sheet = book.add_sheet("Sheet1")
        for r, row in enumerate(rows):
            for c, cell in enumerate(row):
                v = value(cell)
                if hasattr(v, "hour"):
                    sheet.write(r, c, v, xlwt.easyxf(num_format_str="yyyy-mm-dd hh:mm"))
                else:
                    sheet.write(r, c, v)
        book.add_sheet("Sheet2").write(0, 0, "not the first sheet")
        book.save(path)
    else:
        import openpyxl
        book = openpyxl.Workbook()
        sheet = book.active
        for row in rows:
            sheet.append([value(cell) for cell in row])
        book.create_sheet("Sheet2")["A1"] = "not the first sheet"
        book.save(path)


main()
