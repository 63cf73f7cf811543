#!/usr/bin/env python3
"""Validates JSON documents against the schemas in docs/schema.

usage: validate_json.py SCHEMA_DIR SCHEMA FILE [--lines]

SCHEMA is a file name in SCHEMA_DIR (report.schema.json, ...). With --lines
every line of FILE is one document (the audit log). Exit status: 0 valid,
1 invalid (the reasons on standard error), 77 when python3-jsonschema is
missing.
"""
import json
import os
import sys

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed", file=sys.stderr)
    sys.exit(77)


def load_schemas(folder):
    schemas = {}
    for name in sorted(os.listdir(folder)):
        if name.endswith(".schema.json"):
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                schemas[name] = json.load(f)
    return schemas


def make_validator(schemas, name):
    schema = schemas[name]
    cls = jsonschema.validators.validator_for(schema)
    cls.check_schema(schema)
    try:
        from referencing import Registry, Resource

        registry = Registry().with_resources(
            (s["$id"], Resource.from_contents(s)) for s in schemas.values()
        )
        return cls(schema, registry=registry)
    except ImportError:
        store = {s["$id"]: s for s in schemas.values()}
        resolver = jsonschema.RefResolver.from_schema(schema, store=store)
        return cls(schema, resolver=resolver)


def main():
    folder, name, path = sys.argv[1:4]
    lines = "--lines" in sys.argv[4:]
    validator = make_validator(load_schemas(folder), name)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    documents = [l for l in text.split("\n") if l] if lines else [text]
    if lines and not text.endswith("\n"):
        print(f"{path}: the last line has no line break", file=sys.stderr)
        return 1
    bad = 0
    for number, document in enumerate(documents, 1):
        try:
            instance = json.loads(document)
        except json.JSONDecodeError as e:
            print(f"{path}: document {number} is not JSON: {e}", file=sys.stderr)
            bad += 1
            continue
        for error in validator.iter_errors(instance):
            where = "/".join(str(p) for p in error.absolute_path)
            print(f"{path}: document {number} at /{where}: {error.message}", file=sys.stderr)
            bad += 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
