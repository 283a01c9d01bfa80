#!/usr/bin/python3
"""Reads every .eml file in a folder with Python's email package (policy default) and prints, as
one JSON array, what a mail client would take from each: subject, sender, recipients,
unsubscribe targets and both bodies."""
import json
import pathlib
import re
import sys
from email import policy
from email.parser import BytesParser


def first_address(header):
    return header.addresses[0] if header is not None and header.addresses else None


def main(folder):
    out = []
    for path in sorted(pathlib.Path(folder).glob("*.eml")):
        msg = BytesParser(policy=policy.default).parsebytes(path.read_bytes())
        sender = first_address(msg["From"])
        to = first_address(msg["To"])
        reply_to = first_address(msg["Reply-To"])
        unsubscribe = str(msg["List-Unsubscribe"] or "")
        out.append({
            "file": path.name,
            "defects": [type(d).__name__ for d in msg.defects],
            "subject": str(msg["Subject"]),
            "fromName": sender.display_name if sender else None,
            "fromAddress": sender.addr_spec if sender else None,
            "to": to.addr_spec if to else None,
            "replyTo": reply_to.addr_spec if reply_to else None,
            "listUnsubscribe": re.findall(r"<([^<>]*)>", unsubscribe),
            "listUnsubscribePost": str(msg["List-Unsubscribe-Post"] or ""),
            "text": msg.get_body(("plain",)).get_content(),
            "html": msg.get_body(("html",)).get_content(),
        })
    json.dump(out, sys.stdout, ensure_ascii=True)


if __name__ == "__main__":
    main(sys.argv[1])
