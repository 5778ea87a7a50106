#!/usr/bin/env python3
"""Writes a workbook as another program would: write_workbook.py xls|xlsx FILE < rows.json.

rows.json is a list of rows, or {"date1904": true, "rows": [...]} for a
workbook saved with the 1904 date system (Excel for Mac); a cell is a text,
a number, {"sum": [a, b]} for a number as a spreadsheet's arithmetic leaves
it (0.1 + 0.2), {"datetime": "2012-05-18 09:07"} for a date-time the
spreadsheet recognised, or {"datenumber": "2012-05-18 09:07"} for the same
date-time left as a plain number (its date format removed)."""
import datetime
import json
import sys

date1904 = False


def value(cell):
    if isinstance(cell, dict) and "sum" in cell:
        return sum(cell["sum"])
    if isinstance(cell, dict) and "datenumber" in cell:
        t = datetime.datetime.strptime(cell["datenumber"], "%Y-%m-%d %H:%M")
        first = datetime.datetime(1904, 1, 1) if date1904 else datetime.datetime(1899, 12, 30)
        return (t - first) / datetime.timedelta(days=1)
    if isinstance(cell, dict):
        return datetime.datetime.strptime(cell["datetime"], "%Y-%m-%d %H:%M")
    return cell


def main():
    global date1904
    kind, path = sys.argv[1], sys.argv[2]
    rows = json.load(sys.stdin)
    if isinstance(rows, dict):
        date1904 = rows["date1904"]
        rows = rows["rows"]
    if kind == "xls":
        import xlwt
        book = xlwt.Workbook(encoding="utf-8")
        book.dates_1904 = date1904
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
        from openpyxl.utils.datetime import CALENDAR_MAC_1904
        book = openpyxl.Workbook()
        if date1904:
            book.epoch = CALENDAR_MAC_1904
        sheet = book.active
        for row in rows:
            sheet.append([value(cell) for cell in row])
        book.create_sheet("Sheet2")["A1"] = "not the first sheet"
        book.save(path)


main()
