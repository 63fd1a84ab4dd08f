#!/usr/bin/env python3
"""usage: validate_record.py SCHEMA RECORDS [--chain [KEY]]: checks every
line of an erase record file against the JSON Schema (draft 2020-12), and that
version 2 lines are UTF-8 with no character from U+0080 written as a \\u
escape. With --chain, also that each version 2 line's prev is the SHA-256 of
the line before it (null for the first), and its mac the HMAC-SHA256 keyed
with the bytes of the file KEY of its bytes before "mac": (null without KEY).
One line per problem, exit status 1 when there is any."""
import hashlib
import hmac
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
chain = sys.argv[3:4] == ["--chain"]
key = open(sys.argv[4], "rb").read() if len(sys.argv) > 4 else None
for number, raw in enumerate(lines, 1):
    if chain and json.loads(raw).get("record") == 2:
        line = json.loads(raw)
        prev = hashlib.sha256(lines[number - 2]).hexdigest() if number > 1 else None
        mac = hmac.new(key, raw[:raw.rindex(b'"mac":')], hashlib.sha256).hexdigest() if key else None
        if line.get("prev") != prev or line.get("mac") != mac:
            problems.append("line %d: prev %s and mac %s, not %s and %s"
                            % (number, line.get("prev"), line.get("mac"), prev, mac))
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
