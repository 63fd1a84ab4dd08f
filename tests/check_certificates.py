#!/usr/bin/env python3
"""usage: check_certificates.py PAGE RECORDS [--pdf DIR] [--png FILE]

Checks the certificates page PAGE against the record file it was made from:
parsed by an HTML5 parser with no error; self-contained (no script, iframe,
object, embed, event-handler attribute or address of anything elsewhere);
the summary first with its eight header cells and one row per run; one
certificate per run, each the one element with `break-before: page`, holding
its run's serial and outcome as text. With --pdf, renders it in headless
Chromium (a fresh profile in DIR) and checks one page for the summary and one
per certificate; with --png, also writes the first certificate's page as a
picture. One line per problem, exit status 1 when there is any."""
import json
import os
import re
import subprocess
import sys

import html5lib

HEADS = ["Date", "Drive", "Serial", "Method", "Outcome", "Verification", "Exit status",
         "Chain status"]
NS = "{http://www.w3.org/1999/xhtml}"


def text_of(element):
    return "".join(element.itertext())


def main():
    page, records = sys.argv[1], sys.argv[2]
    options = dict(zip(sys.argv[3::2], sys.argv[4::2]))
    problems = []
    raw = open(page, "rb").read()
    parser = html5lib.HTMLParser(strict=False)
    root = parser.parse(raw)
    problems += ["parse error %s at %s" % (e[1], e[0]) for e in parser.errors]
    if not raw.startswith(b"<!DOCTYPE html>") or b'<meta charset="utf-8">' not in raw:
        problems.append("no HTML5 doctype or UTF-8 meta")
    for element in root.iter():
        tag = element.tag.replace(NS, "") if isinstance(element.tag, str) else ""
        if tag in ("script", "iframe", "object", "embed", "link", "img", "base"):
            problems.append("a %s element" % tag)
        for name in element.attrib:
            if name.lower().startswith("on") or name.lower() in ("src", "href", "srcset"):
                problems.append("attribute %s on %s" % (name, tag))
    if re.search(rb"url\(|@import|https?:", raw):
        problems.append("something loaded from elsewhere")
    # The runs, by their last lines, in the order of their first.
    runs = {}
    for line in open(records, "rb").read().split(b"\n")[:-1]:
        try:
            record = json.loads(line)
        except ValueError:
            continue
        runs.setdefault(record["run"], {}).update(record)
    tables = root.findall(".//%stable" % NS)
    heads = [text_of(th) for th in tables[0].findall("./%sthead/%str/%sth" % (NS, NS, NS))]
    if heads != HEADS:
        problems.append("summary heads %s" % heads)
    rows = tables[0].findall("./%stbody/%str" % (NS, NS))
    if len(rows) != len(runs):
        problems.append("%d summary rows for %d runs" % (len(rows), len(runs)))
    style = text_of(root.find(".//%sstyle" % NS))
    breaking = re.findall(r"([^{}]*)\{[^}]*break-before:\s*page", style)
    if [b.strip() for b in breaking] != [".certificate"]:
        problems.append("break-before on %s" % breaking)
    certificates = [e for e in root.iter() if e.get("class") == "certificate"]
    if len(certificates) != len(runs):
        problems.append("%d certificates for %d runs" % (len(certificates), len(runs)))
    for row, certificate, record in zip(rows, certificates, runs.values()):
        for value in (record["drive"]["serial"], record["outcome"]):
            if value not in text_of(row) or value not in text_of(certificate):
                problems.append("run %s: %r missing" % (record["run"], value))
    if "--pdf" in options and not problems:
        directory = options["--pdf"]
        pdf = os.path.join(directory, "page.pdf")
        subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu",
                        "--disable-quic", "--no-first-run", "--disable-background-networking",
                        "--disable-component-update", "--disable-sync",
                        "--user-data-dir=" + os.path.join(directory, "profile"),
                        "--no-pdf-header-footer", "--print-to-pdf=" + pdf,
                        "file://" + os.path.abspath(page)],
                       capture_output=True, timeout=120, check=False)
        info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True).stdout
        pages = re.search(r"^Pages:\s+(\d+)", info, re.M)
        if not pages or int(pages.group(1)) != 1 + len(runs):
            problems.append("%s pages for %d runs" % (pages and pages.group(1), len(runs)))
        if "--png" in options:
            subprocess.run(["pdftoppm", "-png", "-r", "60", "-f", "2", "-l", "2", "-singlefile",
                            pdf, options["--png"][:-4]], check=True)
    print("\n".join(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
