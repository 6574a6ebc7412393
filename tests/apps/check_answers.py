#!/usr/bin/env python3
"""Checks answers of zav-serve against its OpenAPI description.

    check_answers.py OPENAPI ANSWERS

ANSWERS holds one JSON object a line: {method, target, status, head, body} (body null
when it is not text), as the tests' HTTP client records them. Each answer's status must be
one its operation gives (or one x-zav-any-request gives any request), its required headers
present, its Content-Type one the response names, and its body valid against the schema.
Exit status 1 with every mismatch listed.
"""
import json
import os
import re
import sys


sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "schema"))
from schema_validator import validator  # noqa: E402

BASE = "https://zav.example.org/openapi.json"




def pointer(*parts):
    return "/" + "/".join(str(p).replace("~", "~0").replace("/", "~1") for p in parts)


def operation(doc, method, path):
    """The (path key, operation) that answers `method path`, or (None, None)."""
    method = "get" if method == "HEAD" else method.lower()
    for key in sorted(doc["paths"], key=lambda k: "{" in k):  # exact paths first
        pattern = "^" + re.sub(r"\\\{[^}]*\\\}", "[^/]+", re.escape(key)) + "$"
        if re.match(pattern, path) and method in doc["paths"][key]:
            return key, doc["paths"][key][method]
    return None, None


def headers_of(head):
    fields = {}
    for line in head.split("\r\n")[1:]:
        name, _, value = line.partition(":")
        fields[name.strip().lower()] = value.strip()
    return fields


def main(openapi, answers):
    doc = json.load(open(openapi, encoding="utf-8"))
    resources = {BASE: doc}
    for schema in doc["components"]["schemas"].values():
        if "$id" in schema:  # the schemas of share/zav/schema/, embedded with their $id
            resources[schema["$id"]] = schema
    failures, count = [], 0
    for line in open(answers, encoding="utf-8"):
        answer = json.loads(line)
        count += 1
        path = answer["target"].split("?")[0]
        key, op = operation(doc, answer["method"], path)
        status = str(answer["status"])
        where = f'{answer["method"]} {answer["target"][:120]} -> {status}'
        if op is not None and status in op["responses"]:
            at = ("paths", key, "get" if answer["method"] == "HEAD" else answer["method"].lower(),
                  "responses", status)
            response = op["responses"][status]
        elif status in doc["x-zav-any-request"]["responses"]:
            at = ("x-zav-any-request", "responses", status)
            response = doc["x-zav-any-request"]["responses"][status]
        else:
            failures.append(f"{where}: the status is not described for this path")
            continue
        fields = headers_of(answer["head"])
        for name, header in response.get("headers", {}).items():
            if "$ref" in header:
                header = doc["components"]["headers"][header["$ref"].rsplit("/", 1)[1]]
            if header.get("required") and name.lower() not in fields:
                failures.append(f"{where}: no {name} header")
        content = response.get("content", {})
        media = fields.get("content-type", "").split(";")[0].strip()
        if not content or "*/*" in content:
            continue
        if media not in content:
            failures.append(f"{where}: Content-Type {media!r}, not one of {sorted(content)}")
            continue
        if answer["body"] is None or answer["method"] == "HEAD" or "schema" not in content[media]:
            continue
        try:
            body = json.loads(answer["body"]) if media == "application/json" else answer["body"]
        except ValueError as e:
            failures.append(f"{where}: the body is not JSON ({e})")
            continue
        ref = {"$ref": BASE + "#" + pointer(*at, "content", media, "schema")}
        for error in validator(ref, resources).iter_errors(body):
            failures.append(f"{where}: {error.json_path}: {error.message[:300]}")
    for failure in failures:
        print(failure)
    print(f"check_answers: {count} answers, {len(failures)} not as described")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
