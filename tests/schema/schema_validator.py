"""The JSON Schema validator both schema checks use (check_outputs.py here, and the check of
the server's answers, tests/apps/check_answers.py)."""
import jsonschema


def validator(schema, resources):
    """A 2020-12 validator of `schema` that resolves references to `resources` ({uri:
    schema}): with the referencing library (jsonschema 4.18 and later) or, in the Debian
    releases that predate it, with RefResolver."""
    try:
        from referencing import Registry
        from referencing.jsonschema import DRAFT202012
    except ImportError:
        resolver = jsonschema.RefResolver.from_schema(schema, store=dict(resources))
        return jsonschema.Draft202012Validator(schema, resolver=resolver)
    registry = Registry().with_resources(
        (uri, DRAFT202012.create_resource(contents)) for uri, contents in resources.items())
    return jsonschema.Draft202012Validator(schema, registry=registry)
