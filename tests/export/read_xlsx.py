"""Dump what a spreadsheet reader sees in sheet 1 of a workbook, as JSON.

Usage: read_xlsx.py FILE. Cells are listed one past the used range so tests
can look at unwritten neighbours; "exists" tells whether the file has them.
"""
import json
import sys

import openpyxl


def font(obj):
    return {"name": obj.font.name, "sz": obj.font.sz}


def main(path):
    wb = openpyxl.load_workbook(path)
    ws = wb.worksheets[0]
    max_row, max_column = ws.max_row, ws.max_column   # before looking past them adds cells
    cells = []
    for r in range(1, max_row + 2):
        row = []
        for c in range(1, max_column + 2):
            exists = (r, c) in ws._cells
            cell = ws.cell(row=r, column=c)
            b = cell.border
            row.append({
                "exists": exists,
                "value": cell.value,
                "type": cell.data_type,
                "font": font(cell),
                "align": cell.alignment.horizontal,
                "borders": [b.left.style, b.right.style, b.top.style, b.bottom.style],
            })
        cells.append(row)
    columns = [{"min": d.min, "max": d.max, "width": d.width, "font": font(d)}
               for d in ws.column_dimensions.values()]
    rows = {str(i): {"height": d.height, "styled": bool(d.customFormat)}
            for i, d in ws.row_dimensions.items()}
    json.dump({"sheets": wb.sheetnames, "max_row": max_row, "max_column": max_column,
               "cells": cells, "columns": columns, "rows": rows}, sys.stdout)


if __name__ == "__main__":
    main(sys.argv[1])
