#!/usr/bin/env python3
"""Checks tdfinfo -j output against the text form of the same datasets.

Usage: tdfinfo_json_check.py TEXT_FILE JSON_FILE

The JSON file must hold one JSON object per line (parsed strictly: no NaN
or Infinity, no duplicate keys); the text file the text forms, separated by
blank lines.  Every value must agree: the dataset name, the dimensions, the
variables, the data kind, the storage, the orbit start (null in JSON for
"none") and all attributes in the same order,
with named codes as strings, unnamed codes and integers as integers and
scaled values as the same decimal.  Prints "match N" and exits 0, or prints
the first difference and exits 1.
"""
import json
import re
import sys


def fail(message):
    print("mismatch: " + message)
    sys.exit(1)


def strict_object(pairs):
    keys = [k for k, _ in pairs]
    if len(keys) != len(set(keys)):
        fail("duplicate keys in %r" % keys)
    return dict(pairs)  # dicts keep the order of the keys


def reject_constant(name):
    fail("non-standard JSON constant " + name)


def parse_json(data):
    objects = []
    text = data.decode("utf-8")  # must be valid UTF-8
    if text and not text.endswith("\n"):
        fail("JSON output does not end with a newline")
    for number, line in enumerate(text.splitlines(), 1):
        value = json.loads(line, object_pairs_hook=strict_object,
                           parse_constant=reject_constant)
        if not isinstance(value, dict):
            fail("line %d is not a JSON object" % number)
        objects.append(value)
    return objects


LABEL = 12


def parse_text(data):
    text = data.decode("utf-8", errors="replace")
    blocks = [b for b in text.split("\n\n") if b.strip()]
    datasets = []
    for block in blocks:
        lines = block.rstrip("\n").split("\n")
        fields = {}
        attributes = []
        in_attributes = False
        for line in lines:
            if in_attributes:
                m = re.fullmatch(r"  ([a-z_]+) +(.+)", line)
                if not m:
                    fail("bad attribute line %r" % line)
                attributes.append((m.group(1), m.group(2)))
            elif line == "attributes":
                in_attributes = True
            else:
                label, value = line[:LABEL].rstrip(), line[LABEL:]
                if label in fields:
                    fail("label %r twice" % label)
                fields[label] = value
        dims = re.fullmatch(r"rows = (-?\d+), columns = (-?\d+)", fields["dimensions"])
        if not dims:
            fail("bad dimensions %r" % fields["dimensions"])
        variables = []
        for item in fields["variables"].split(", "):
            m = re.fullmatch(r"([a-z0-9_]+) \((byte|float)\)", item)
            if not m:
                fail("bad variable %r" % item)
            variables.append({"name": m.group(1), "type": m.group(2)})
        datasets.append({
            "dataset": fields["dataset"],
            "dimensions": {"rows": int(dims.group(1)), "columns": int(dims.group(2))},
            "variables": variables,
            "data_kind": fields["data kind"],
            "storage": fields["storage"],
            "orbit_start": None if fields["orbit start"] == "none" else fields["orbit start"],
            "attributes": attributes,
        })
    return datasets


def same_value(name, text_value, json_value):
    unnamed = re.fullmatch(r"(-?\d+) \(unnamed code\)", text_value)
    if unnamed:
        return type(json_value) is int and json_value == int(unnamed.group(1))
    if re.fullmatch(r"-?\d+", text_value):
        return type(json_value) is int and json_value == int(text_value)
    if re.fullmatch(r"-?\d+\.\d+", text_value):
        return type(json_value) is float and json_value == float(text_value)
    return type(json_value) is str and json_value == text_value


def main():
    with open(sys.argv[1], "rb") as f:
        texts = parse_text(f.read())
    with open(sys.argv[2], "rb") as f:
        objects = parse_json(f.read())
    if len(texts) != len(objects):
        fail("%d text forms, %d JSON objects" % (len(texts), len(objects)))
    for text, obj in zip(texts, objects):
        expected_keys = ["dataset", "dimensions", "variables", "data_kind", "storage", "orbit_start",
                         "attributes"]
        if list(obj.keys()) != expected_keys:
            fail("JSON keys %r" % list(obj.keys()))
        for key in expected_keys[:-1]:
            if text[key] != obj[key]:
                fail("%s: text %r, JSON %r" % (key, text[key], obj[key]))
        json_attributes = list(obj["attributes"].items())
        if len(json_attributes) != 57 or len(text["attributes"]) != 57:
            fail("attribute counts %d and %d" % (len(text["attributes"]), len(json_attributes)))
        for (tname, tvalue), (jname, jvalue) in zip(text["attributes"], json_attributes):
            if tname != jname:
                fail("attribute order: %s in text, %s in JSON" % (tname, jname))
            if not same_value(tname, tvalue, jvalue):
                fail("%s: text %r, JSON %r" % (tname, tvalue, jvalue))
    print("match %d" % len(objects))


main()
