#!/usr/bin/env python3
"""usage: validate_record.py SCHEMA RECORDS: checks every line of an erase
record file against the JSON Schema (draft 2020-12), and that version 2 lines
are UTF-8 with no character from U+0080 written as a \\u escape; one line per
problem, exit status 1 when there is any."""
import json
import re
import sys

import jsonschema

# A \u escape: an odd number of backslashes before the u.
ESCAPE = re.compile(rb'(?<!\\)(?:\\\\)*\\u([0-9a-fA-F]{4})')

schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
lines = open(sys.argv[2], "rb").read().split(b"\n")
problems = [] if lines.pop() == b"" else ["no line end at the end"]
for number, raw in enumerate(lines, 1):
    try:
        line = json.loads(raw.decode("utf-8"))
        errors = validator.iter_errors(line)
        problems += ["line %d: %s: %s" % (number, "/".join(map(str, e.absolute_path)), e.message)
                     for e in errors]
        if isinstance(line, dict) and line.get("record") == 2:
            problems += ["line %d: \\u%s escapes a character of UTF-8" % (number, m.decode())
                         for m in ESCAPE.findall(raw) if int(m, 16) >= 0x80]
        elif not raw.isascii():
            problems.append("line %d: a version 1 line that is not ASCII" % number)
    except ValueError as e:
        problems.append("line %d: not UTF-8 JSON: %s" % (number, e))
print("\n".join(problems))
sys.exit(1 if problems else 0)
