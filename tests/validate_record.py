#!/usr/bin/env python3
"""usage: validate_record.py SCHEMA RECORDS: checks every line of an erase
record file against the JSON Schema (draft 2020-12); one line per problem,
exit status 1 when there is any."""
import json
import sys

import jsonschema

schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
lines = open(sys.argv[2], "rb").read().split(b"\n")
problems = [] if lines.pop() == b"" else ["no line end at the end"]
for number, raw in enumerate(lines, 1):
    try:
        errors = validator.iter_errors(json.loads(raw.decode("ascii")))
        problems += ["line %d: %s: %s" % (number, "/".join(map(str, e.absolute_path)), e.message)
                     for e in errors]
    except ValueError as e:
        problems.append("line %d: not ASCII JSON: %s" % (number, e))
print("\n".join(problems))
sys.exit(1 if problems else 0)
