"""Reads one vCard file with vobject and prints every property it found, one
line each: group.NAME, the parameters in name order, and the value as vobject
decoded it. The writer's tests compare these lines with what they wrote."""
import base64
import sys

import vobject


def shown(value):
    if isinstance(value, vobject.vcard.Name):
        return repr([value.family, value.given, value.additional, value.prefix, value.suffix])
    if isinstance(value, vobject.vcard.Address):
        return repr([value.box, value.extended, value.street, value.city, value.region,
                     value.code, value.country])
    if isinstance(value, bytes):
        return "base64:" + base64.b64encode(value).decode("ascii")
    return repr(value)


def main():
    with open(sys.argv[1], encoding="utf-8", newline="") as f:
        card = vobject.readOne(f.read())
    for child in card.getChildren():
        params = sorted((name, list(values)) for name, values in child.params.items())
        print(f"{child.group or ''}.{child.name} {params!r} {shown(child.value)}")


if __name__ == "__main__":
    main()
