#!/usr/bin/env python3
"""Validates every line of an erase record file against the record's JSON
Schema (draft 2020-12) with the jsonschema package.

usage: validate_record.py SCHEMA RECORDS

Prints one line per problem and exits 1 when there is any, 0 otherwise.
"""
import json
import sys

import jsonschema


def main():
    with open(sys.argv[1]) as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    problems = 0
    with open(sys.argv[2], "rb") as f:
        lines = f.read().split(b"\n")
    if lines[-1] != b"":
        print("the file does not end in a line end")
        problems += 1
    for number, raw in enumerate(lines[:-1], 1):
        try:
            record = json.loads(raw.decode("ascii"))
        except ValueError as e:
            print("line %d: not ASCII JSON: %s" % (number, e))
            problems += 1
            continue
        for error in validator.iter_errors(record):
            path = "/".join(str(p) for p in error.absolute_path)
            print("line %d: %s: %s" % (number, path or "(top)", error.message))
            problems += 1
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
