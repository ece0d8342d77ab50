#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Validates the exchange texts the tests handed over (support/WireCapture.h) against the
JSON Schemas in docs/schema.

    check_wire_texts.py SCHEMA_DIR CAPTURE_DIR    validate every *.json file in CAPTURE_DIR
    check_wire_texts.py SCHEMA_DIR --clear DIR    empty DIR (creating it), before the tests run

A file's name says what it holds: request-* (accepted, so the request schema must accept it),
refused-request-* (refused for its shape, so the request schema must refuse it), response-*,
envelope-*, and answer-* (a response, or an envelope when it has an "error" member, which is
how a host tells them apart). Exits 1 naming each file that fails and why, and also when the
folder holds no file at all: a check that saw nothing has checked nothing.
"""

import json
import pathlib
import shutil
import sys

import jsonschema


def load_validators(schema_dir):
    validators = {}
    for kind, name in (("request", "exchange-request"), ("response", "exchange-response"),
                       ("envelope", "exchange-error")):
        schema = json.loads((schema_dir / f"{name}.schema.json").read_text(encoding="utf-8"))
        jsonschema.Draft202012Validator.check_schema(schema)
        validators[kind] = jsonschema.Draft202012Validator(schema)
    return validators


def kind_of(name):
    # Longest prefix first: "refused-request-" also ends in "request-".
    for prefix in ("refused-request", "request", "response", "envelope", "answer"):
        if name.startswith(prefix + "-"):
            return prefix
    return None


def describe(error):
    where = "/".join(str(part) for part in error.absolute_path) or "(top level)"
    return f"at {where}: {error.message}"


def check(validators, path):
    """Answers the failure of one file as text, or None when it passes."""
    kind = kind_of(path.name)
    if kind is None:
        return "not named after a kind of exchange text"
    try:
        document = json.loads(path.read_text(encoding="utf-8"))
    except (UnicodeDecodeError, json.JSONDecodeError) as error:
        return f"not JSON in UTF-8: {error}"
    if kind == "refused-request":
        if validators["request"].is_valid(document):
            return "the library refused this request, but the request schema accepts it"
        return None
    if kind == "answer":
        is_envelope = isinstance(document, dict) and "error" in document
        kind = "envelope" if is_envelope else "response"
    errors = sorted(validators[kind].iter_errors(document), key=lambda e: list(e.absolute_path))
    if errors:
        return f"not a valid {kind}: " + "; ".join(describe(e) for e in errors[:5])
    return None


def main(argv):
    if len(argv) == 4 and argv[2] == "--clear":
        folder = pathlib.Path(argv[3])
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        return 0
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    validators = load_validators(pathlib.Path(argv[1]))
    folder = pathlib.Path(argv[2])
    files = sorted(folder.glob("*.json")) if folder.is_dir() else []
    if not files:
        print(f"No exchange text was handed over in {folder}: nothing was checked. The tests "
              "that exchange must run first, with TAVRO_WIRE_CAPTURE_DIR set to that folder.",
              file=sys.stderr)
        return 1
    counts = {}
    failures = 0
    for path in files:
        kind = kind_of(path.name) or "unknown"
        counts[kind] = counts.get(kind, 0) + 1
        failure = check(validators, path)
        if failure:
            failures += 1
            print(f"{path}: {failure}", file=sys.stderr)
    summary = ", ".join(f"{count} {kind}" for kind, count in sorted(counts.items()))
    print(f"{len(files) - failures} of {len(files)} exchange texts match their schema ({summary})")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
