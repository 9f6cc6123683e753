"""Prints what the test SMTP server spooled, as read by Python's email package.

    read_spool.py SPOOL_DIR

One JSON list, a message per NNNN.eml in order: the envelope (MAIL FROM and
RCPT TO), the decoded Subject, From and To headers, the addresses in To, the
text body, the names of the headers, and each attachment's decoded file
name, size, SHA-256, header names and parameter names, and the defects
Python found in the mail. Texts are decoded the standard way, with the
charset each part declares.
"""

import email
import email.policy
import hashlib
import json
import os
import sys


def main():
    spool = sys.argv[1]
    out = []
    for name in sorted(n for n in os.listdir(spool) if n.endswith(".eml")):
        stem = os.path.join(spool, name[:-4])
        with open(stem + ".eml", "rb") as f:
            raw = f.read()
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        rcpt, mail_from = [], ""
        with open(stem + ".envelope", encoding="utf-8") as f:
            for line in f:
                line = line.rstrip("\n")
                if line.startswith("MAIL FROM:"):
                    mail_from = line[len("MAIL FROM:"):]
                elif line.startswith("RCPT TO:"):
                    rcpt.append(line[len("RCPT TO:"):])
        body = msg.get_body(preferencelist=("plain",))
        text = ""
        defects = [type(d).__name__ for d in msg.defects]
        if body is not None:
            # As every reader reads it: the declared charset, Python's codecs.
            text = body.get_content()
        for part in msg.walk():
            defects += [type(d).__name__ for d in part.defects]
        attachments = []
        for part in msg.iter_attachments():
            data = part.get_payload(decode=True) or b""
            attachments.append({
                "name": part.get_filename(), "size": len(data),
                "sha256": hashlib.sha256(data).hexdigest(),
                "headers": list(part.keys()),
                "type_params": [k for k, _ in (part.get_params() or [])[1:]],
                "disposition_params": [k for k, _ in
                                       (part.get_params(header="content-disposition") or [])[1:]],
            })
        to = msg.get("To")
        out.append({
            "file": name,
            "headers": list(msg.keys()),
            "mail_from": mail_from,
            "rcpt": rcpt,
            "subject": str(msg.get("Subject", "")),
            "from": str(msg.get("From", "")),
            "to": str(to or ""),
            "to_addresses": [a.addr_spec for a in to.addresses] if to is not None else [],
            "to_names": [a.display_name for a in to.addresses] if to is not None else [],
            "body": text,
            "defects": defects,
            "attachments": attachments,
            "bare_cr": b"\r" in raw.replace(b"\r\n", b""),
        })
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
