#!/usr/bin/python3
"""check_inspect_json.py SCHEMA REPORT.json...: each report must be one JSON document (a duplicate
key counts as malformed) that the schema (JSON Schema draft 2020-12) accepts."""
import json
import sys

import jsonschema


def no_duplicates(pairs):
    keys = [key for key, _ in pairs]
    if len(keys) != len(set(keys)):
        raise ValueError("duplicate key in " + repr(keys))
    return dict(pairs)


schema = json.load(open(sys.argv[1], encoding="utf-8"))
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
for path in sys.argv[2:]:
    with open(path, encoding="utf-8") as report:
        document = json.load(report, object_pairs_hook=no_duplicates)
    validator.validate(document)
    print(f"{path}: valid, exit code {document['exit_code']}, extraction {document['extraction']['outcome']}")
