#!/usr/bin/env python3
"""check_answers.py OPENAPI ANSWERS: zav-serve's answers (one JSON object a line: method,
target, status, head, body) against its OpenAPI description: status, required headers,
Content-Type and body schema. Exit status 1 with every mismatch listed."""
import json
import os
import re
import sys


sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "schema"))
from check_outputs import validator  # noqa: E402

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
    fields = (line.partition(":") for line in head.split("\r\n")[1:])
    return {name.strip().lower(): value.strip() for name, _, value in fields}


def main(openapi, answers):
    doc = json.load(open(openapi, encoding="utf-8"))
    resources = {BASE: doc}  # and the schemas of share/zav/schema/, embedded with their $id
    resources.update((s["$id"], s) for s in doc["components"]["schemas"].values() if "$id" in s)
    failures, count = [], 0
    for count, line in enumerate(open(answers, encoding="utf-8"), 1):
        answer = json.loads(line)
        path = answer["target"].split("?")[0]
        key, op = operation(doc, answer["method"], path)
        status = str(answer["status"])
        where = f'{answer["method"]} {answer["target"][:120]} -> {status}'
        if op is not None and status in op["responses"]:
            at = ("paths", key, "get" if answer["method"] == "HEAD" else answer["method"].lower())
            at, response = at + ("responses", status), op["responses"][status]
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
    print("".join(f + "\n" for f in failures), end="")
    print(f"check_answers: {count} answers, {len(failures)} not as described")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
