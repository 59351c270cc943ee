#!/usr/bin/python3
"""check_sbom.py SCHEMA_FOLDER SBOM.json...: each SBOM must be one JSON document (a duplicate key
counts as malformed) that the CycloneDX 1.6 JSON schema in SCHEMA_FOLDER accepts, formats checked
where the installed checkers know them. The schema's references to its two companion files resolve
to the copies beside it, never to the network. Prints each component's bom-ref and SHA-256, one
per line, after the file's name."""
import json
import os
import sys

import jsonschema

SCHEMA = "bom-1.6.SNAPSHOT.schema.json"
COMPANIONS = ("spdx.SNAPSHOT.schema.json", "jsf-0.82.SNAPSHOT.schema.json")


def no_duplicates(pairs):
    keys = [key for key, _ in pairs]
    if len(keys) != len(set(keys)):
        raise ValueError("duplicate key in " + repr(keys))
    return dict(pairs)


def refuse_network(uri):
    raise ValueError("the schema refers to " + uri + ", which is not in the folder")


def load(folder, name):
    with open(os.path.join(folder, name), encoding="utf-8") as file:
        return json.load(file)


def components(bom):
    found = [bom["metadata"]["component"]]
    pending = list(bom.get("components", []))
    while pending:
        component = pending.pop(0)
        found.append(component)
        pending.extend(component.get("components", []))
    return found


folder = sys.argv[1]
schema = load(folder, SCHEMA)
jsonschema.Draft7Validator.check_schema(schema)
# The references are relative to the schema's own $id.
base = schema["$id"].rsplit("/", 1)[0] + "/"
store = {base + name: load(folder, name) for name in COMPANIONS}
resolver = jsonschema.RefResolver.from_schema(schema, store=store,
                                              handlers={"http": refuse_network, "https": refuse_network})
validator = jsonschema.Draft7Validator(schema, resolver=resolver, format_checker=jsonschema.FormatChecker())
for path in sys.argv[2:]:
    with open(path, encoding="utf-8") as file:
        bom = json.load(file, object_pairs_hook=no_duplicates)
    validator.validate(bom)
    print(path + ": valid")
    for component in components(bom):
        for digest in component.get("hashes", []):
            print(component["bom-ref"], digest["content"])
