#!/usr/bin/env python3
"""check_outputs.py ZAV SOURCE_DIR WORK_DIR validates what zav prints with --json against the
schemas of share/zav/schema/ (which openapi.json must embed as they are; --sync SOURCE_DIR copies
them in), for the examples, samples, every break, diskette parts, an empty and a foreign
file, each alone and all at once."""
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile

import jsonschema

EMBEDDED = {"CheckReport": "check", "CheckAllReport": "check-all", "Receipt": "receipt"}


def validator(schema, resources):
    """A 2020-12 validator of `schema` resolving references to `resources` ({uri: schema}), with
    the referencing library (jsonschema 4.18 on) or RefResolver in older Debian releases."""
    try:
        from referencing import Registry
        from referencing.jsonschema import DRAFT202012
    except ImportError:
        resolver = jsonschema.RefResolver.from_schema(schema, store=dict(resources))
        return jsonschema.Draft202012Validator(schema, resolver=resolver)
    registry = Registry().with_resources(
        (uri, DRAFT202012.create_resource(contents)) for uri, contents in resources.items())
    return jsonschema.Draft202012Validator(schema, registry=registry)


def schemas(source):
    return {os.path.basename(p)[: -len(".schema.json")]: json.load(open(p, encoding="utf-8"))
            for p in glob.glob(os.path.join(source, "share/zav/schema/*.schema.json"))}


def sync(source):
    path = os.path.join(source, "share/zav/openapi.json")
    doc = json.load(open(path, encoding="utf-8"))
    found = schemas(source)
    for component, name in EMBEDDED.items():
        doc["components"]["schemas"][component] = found[name]
    with open(path, "w", encoding="utf-8") as out:
        out.write(json.dumps(doc, indent=2, ensure_ascii=False) + "\n")


def main(zav, source, work):
    found = schemas(source)
    failures = []
    doc = json.load(open(os.path.join(source, "share/zav/openapi.json"), encoding="utf-8"))
    for component, name in EMBEDDED.items():
        if doc["components"]["schemas"].get(component) != found[name]:
            failures.append(f"openapi.json's {component} is not {name}.schema.json: "
                            "run tests/schema/check_outputs.py --sync .")
    resources = {s["$id"]: s for s in found.values()}
    validators = {name: validator(s, resources) for name, s in found.items()}

    os.makedirs(work, exist_ok=True)
    folder, files = tempfile.mkdtemp(prefix="schema-", dir=work), []

    def sample(name, *args):
        out = os.path.join(folder, name)
        os.makedirs(out)
        # A break some period cannot show is left out: the others cover its kind of output.
        subprocess.run([zav, "sample", "-o", out, *args], capture_output=True)
        files.extend(sorted(glob.glob(os.path.join(out, "*.ZA[V0]"))))

    for example in sorted(glob.glob(os.path.join(source, "examples/*.ZAV"))):
        os.makedirs(os.path.join(folder, "examples"), exist_ok=True)
        files.append(shutil.copy(example, os.path.join(folder, "examples")))
    sample("good")
    sample("parts", "--disks", "3", "--workers", "40")
    listed = subprocess.run([zav, "sample", "--break", "list"], capture_output=True, text=True,
                            check=True).stdout
    breaks = [line.split("\t")[0] for line in listed.splitlines() if line.strip()]
    for n in breaks:
        sample("break-" + n, "--break", n)
    for name, content in [("P0000000.ZAV", b""), ("P0404268.ZAV", b"no payment file\r\n" * 3)]:
        os.makedirs(os.path.join(folder, "odd-" + name))
        files.append(os.path.join(folder, "odd-" + name, name))
        open(files[-1], "wb").write(content)

    def judge(schema, args, lines=False):
        ran = subprocess.run([zav, *args], capture_output=True, text=True)
        where = "zav " + " ".join(a.replace(folder + "/", "") for a in args)
        try:
            outputs = ([json.loads(l) for l in ran.stdout.splitlines()] if lines
                       else [json.loads(ran.stdout)])
        except ValueError as e:
            failures.append(f"{where}: not JSON ({e}): {ran.stdout[:200]!r} {ran.stderr[:200]!r}")
            return
        for output in outputs:
            for error in validators[schema].iter_errors(output):
                failures.append(f"{where}: {error.json_path}: {error.message[:300]}")

    for f in files:
        judge("check", ["check", "--json", f])
        for mask in ([], ["--mask"]):
            judge("check-all", ["check", "--all", "--json", *mask, f])
            judge("describe", ["describe", "--json", *mask, f], lines=True)
    missing = os.path.join(folder, "missing.ZAV")
    judge("check", ["check", "--json", *files, missing])
    judge("check-all", ["check", "--all", "--json", *files])
    judge("summary", ["check", "--summary", "json", *files, missing])
    judge("summary", ["check", "--summary", "json", "--mask", *files])

    print("".join(f + "\n" for f in failures), end="")
    print(f"check_outputs: {len(files)} files, {len(breaks)} breaks, {len(failures)} failures")
    if not failures:
        shutil.rmtree(folder)
    return 1 if failures else 0


if __name__ == "__main__":
    if sys.argv[1] == "--sync":
        sys.exit(sync(sys.argv[2]))
    sys.exit(main(*sys.argv[1:]))
