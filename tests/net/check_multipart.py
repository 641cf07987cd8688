#!/usr/bin/env python3
"""Parses a multipart/form-data body with the standard library's e-mail parser and
compares its parts with what the test expected.

    check_multipart.py CONTENT_TYPE BODY_FILE PART...

Each PART is "field:NAME=VALUE_HEX" or "file:NAME=FILENAME=CONTENT_FILE", in order.
Exit status 0 when the parts match exactly; otherwise the difference is printed.
"""
import email.parser
import email.policy
import sys


def main():
    content_type, body_file = sys.argv[1], sys.argv[2]
    with open(body_file, "rb") as f:
        body = f.read()
    message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
        b"Content-Type: " + content_type.encode("latin-1") + b"\r\nMIME-Version: 1.0\r\n\r\n" + body
    )
    if not message.is_multipart():
        print("not multipart")
        return 1
    got = []
    for part in message.iter_parts():
        disposition = part.get("Content-Disposition", "")
        params = dict(part.get_params(header="content-disposition")[1:])
        payload = part.get_payload(decode=True) or b""
        if "filename" in params:
            got.append(("file", params["name"], params["filename"], payload))
        else:
            got.append(("field", params.get("name"), None, payload))
        if not disposition.startswith("form-data"):
            print("bad disposition", disposition)
            return 1
    wanted = []
    for wanted_part in sys.argv[3:]:
        kind, rest = wanted_part.split(":", 1)
        if kind == "field":
            name, value = rest.split("=", 1)
            wanted.append(("field", name, None, bytes.fromhex(value)))
        else:
            name, filename, path = rest.split("=", 2)
            with open(path, "rb") as f:
                wanted.append(("file", name, filename, f.read()))
    if got != wanted:
        print("parts differ")
        print("got:   ", [(k, n, f, len(p)) for k, n, f, p in got])
        print("wanted:", [(k, n, f, len(p)) for k, n, f, p in wanted])
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
