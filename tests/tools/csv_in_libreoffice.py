#!/usr/bin/env python3
"""CSV in a real spreadsheet: voltaro-log records a meter (meter-sim's
overload scenario: readings and 0L in turn) into CSV, once in an English
locale and once in a German one (a decimal comma, so the fields are separated
by semicolons); LibreOffice imports each file headless with the CSV filter's
options for that locale and saves it as flat ODS, which is read back. Every
value must be a number cell holding the value, every overload a text cell
"0L", every date and time a date cell holding the row's date and time. A
German file imported as English is checked too, and must fail the same
checks: they cannot pass on text.

Usage: csv_in_libreoffice.py VOLTARO_LOG METER_SIM
Exits 77 (skipped) when soffice is not installed.
"""

import csv
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

ROWS = 24
NS = {
    "table": "urn:oasis:names:tc:opendocument:xmlns:table:1.0",
    "office": "urn:oasis:names:tc:opendocument:xmlns:office:1.0",
    "text": "urn:oasis:names:tc:opendocument:xmlns:text:1.0",
}


def attr(element, ns, name):
    return element.get("{%s}%s" % (NS[ns], name))


def record(log, sim, out, locale, tmp):
    """Records ROWS rows into `out` with voltaro-log under `locale`."""
    env = dict(os.environ, LC_ALL=locale, LANG=locale, XDG_STATE_HOME=os.path.join(tmp, "state"))
    env.pop("LANGUAGE", None)
    server = subprocess.Popen([sim, "--pty", "--scenario", "overload", "--rate", "50", "--seed", "7"],
                              stdout=subprocess.PIPE, text=True)
    try:
        port = server.stdout.readline().strip()
        if not port:
            sys.exit("meter-sim gave no pseudo-terminal")
        run = subprocess.run([log, "--port", port, "--out", out, "--count", str(ROWS), "--quiet"],
                             env=env, capture_output=True, text=True, timeout=60)
        if run.returncode != 0:
            sys.exit("voltaro-log failed (%d): %s" % (run.returncode, run.stderr))
    finally:
        server.kill()
        server.wait()


def convert(path, options, outdir, tmp):
    """LibreOffice's import of the CSV `path` under the filter `options`, as flat ODS."""
    profile = tempfile.mkdtemp(prefix="profile-", dir=tmp)
    os.makedirs(outdir, exist_ok=True)
    run = subprocess.run(["soffice", "-env:UserInstallation=file://" + profile, "--headless", "--norestore",
                          "--infilter=CSV:" + options, "--convert-to", "fods", "--outdir", outdir, path],
                         capture_output=True, text=True, timeout=180)
    fods = os.path.join(outdir, os.path.splitext(os.path.basename(path))[0] + ".fods")
    if run.returncode != 0 or not os.path.exists(fods):
        sys.exit("soffice did not convert %s (%d): %s %s" % (path, run.returncode, run.stdout, run.stderr))
    return fods


def sheet(fods):
    """The first sheet's cells, row by row: (value type, value attribute, text)."""
    table = ET.parse(fods).getroot().find(".//table:table", NS)
    rows = []
    for row in table.iter("{%s}table-row" % NS["table"]):
        cells = []
        for cell in row.findall("table:table-cell", NS):
            kind = attr(cell, "office", "value-type")
            value = (attr(cell, "office", "value") or attr(cell, "office", "date-value")
                     or attr(cell, "office", "time-value"))
            text = "".join("".join(p.itertext()) for p in cell.findall("text:p", NS))
            cells += [(kind, value, text)] * int(attr(cell, "table", "number-columns-repeated") or 1)
        rows += [cells] * int(attr(row, "table", "number-rows-repeated") or 1)
    # The trailing empty cells and rows a sheet is padded with.
    rows = [[c for c in r if c[0]] or [] for r in rows]
    while rows and not rows[-1]:
        rows.pop()
    return rows


def problems(path, fods, separator, decimal):
    """What is wrong with LibreOffice's sheet of the CSV `path`; empty when
    every value is a number, every overload text and every date and time a
    date."""
    with open(path, encoding="utf-8", newline="") as f:
        text = f.read()
    if not text.endswith("\r\n") or "\n" in text.replace("\r\n", ""):
        return ["the lines do not all end with CR LF"]
    lines = list(csv.reader(text.split("\r\n")[1:-1], delimiter=separator))
    found = []
    rows = sheet(fods)
    if len(rows) != len(lines) + 1:
        return ["%d rows in the sheet for %d lines" % (len(rows), len(lines) + 1)]
    numbers = overloads = 0
    for n, (fields, cells) in enumerate(zip(lines, rows[1:]), start=1):
        no, time, when, function, value, unit, judge = fields
        if cells[0][:2] != ("float", no):
            found.append("row %d: No %r is %r" % (n, no, cells[0]))
        if cells[2][0] != "date" or cells[2][1] != when:
            found.append("row %d: date and time %r is %r" % (n, when, cells[2]))
        if not re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d", when) or when[11:] != time.replace(".", ":"):
            found.append("row %d: date and time %r for the time %r" % (n, when, time))
        if "L" in value:
            overloads += 1
            if cells[4][:1] != ("string",) or cells[4][2] != value:
                found.append("row %d: overload %r is %r" % (n, value, cells[4]))
        else:
            numbers += 1
            expected = float(value.replace(decimal, "."))
            if cells[4][0] != "float" or float(cells[4][1]) != expected:
                found.append("row %d: value %r is %r, not the number %r" % (n, value, cells[4], expected))
        for k, text in ((3, function), (5, unit), (6, judge)):
            if cells[k][0] != "string" or cells[k][2] != text:
                found.append("row %d: text %r is %r" % (n, text, cells[k]))
    if numbers == 0 or overloads == 0:
        found.append("%d values and %d overloads: the file shows neither kind" % (numbers, overloads))
    return found


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    log, sim = sys.argv[1], sys.argv[2]
    if shutil.which("soffice") is None:
        print("SKIPPED: soffice is not installed (apt-get install --no-install-recommends "
              "libreoffice-calc-nogui; scripts/common.sh lists it)")
        return 77
    tmp = tempfile.mkdtemp(prefix="voltaro-csv-")
    try:
        # The filter's options: separator, text delimiter, character set
        # (76: UTF-8), first line, column formats (none: detected), language
        # (1033 English, 1031 German), quoted field as text, detect special
        # numbers. Neither of the last two is needed for numbers and ISO dates.
        cases = [("en_US.UTF-8", ",", ".", "44,34,76,1,,1033,false,false"),
                 ("de_DE.UTF-8", ";", ",", "59,34,76,1,,1031,false,false")]
        for locale, separator, decimal, options in cases:
            path = os.path.join(tmp, locale.split(".")[0] + ".csv")
            record(log, sim, path, locale, tmp)
            with open(path, encoding="utf-8", newline="") as f:
                header = f.readline()
            if header != separator.join(["No", "Time", "DateTime", "DC/AC", "Value", "Unit", "AUTO"]) + "\r\n":
                sys.exit("%s: header %r" % (locale, header))
            found = problems(path, convert(path, options, os.path.join(tmp, locale), tmp), separator, decimal)
            if found:
                sys.exit("%s:\n  %s" % (locale, "\n  ".join(found)))
            print("%s: %d rows of numbers, overloads and dates, separated by %r" % (locale, ROWS, separator))
            if decimal == ",":
                # The same file imported as English: the values are not the numbers.
                wrong = convert(path, "59,34,76,1,,1033,false,false", os.path.join(tmp, "as-english"), tmp)
                if not any("not the number" in p for p in problems(path, wrong, separator, decimal)):
                    sys.exit("the checks pass on a German file imported as English: they see no text")
                print("a German file imported as English fails the checks, as it must")
        return 0
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
