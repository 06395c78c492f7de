#!/usr/bin/python3
"""Checks a message written by the e-mail component with Python's own e-mail parser.

Text expectations come hex-encoded (UTF-8) so that any text survives the command line. Prints "OK"
and exits 0 when everything matches; otherwise prints one line per difference and exits 1.
"""
import argparse
import datetime
import email.policy
import email.utils
import json
import re
import sys
from email.parser import BytesParser

KNOWN_HEADERS = {"date", "from", "to", "subject", "message-id", "mime-version", "content-type",
                 "content-transfer-encoding"}


def text(hex_text):
    return bytes.fromhex(hex_text).decode("utf-8")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("message")
    parser.add_argument("--from-address", required=True)
    parser.add_argument("--from-name-hex", default="")
    parser.add_argument("--to", action="append", default=[], help="bare address, once per recipient")
    parser.add_argument("--subject-hex", required=True)
    parser.add_argument("--body-hex", required=True, help="the body's exact bytes after decoding")
    parser.add_argument("--attachment", action="append", default=[], help="HEXNAME=PATH, in order")
    parser.add_argument("--envelope", help="envelope JSON written by smtp_sink.py")
    arguments = parser.parse_args()

    problems = []
    with open(arguments.message, "rb") as stream:
        raw = stream.read()
    message = BytesParser(policy=email.policy.default).parsebytes(raw)

    # Wire form: CRLF everywhere, no over-long lines.
    for number, line in enumerate(raw.split(b"\r\n"), 1):
        if b"\n" in line or b"\r" in line:
            problems.append("line %d has a bare CR or LF" % number)
        if len(line) > 998:
            problems.append("line %d is longer than 998 characters" % number)
    if not raw.endswith(b"\r\n"):
        problems.append("the message does not end with CRLF")

    for part in message.walk():
        for defect in part.defects:
            problems.append("parser defect in %s: %r" % (part.get_content_type(), defect))

    names = [name.lower() for name in message.keys()]
    for required in ("date", "from", "to", "subject", "message-id", "mime-version"):
        if names.count(required) != 1:
            problems.append("header %s appears %d times" % (required, names.count(required)))
    for name in names:
        if name not in KNOWN_HEADERS:
            problems.append("unexpected header %s" % name)
    if problems:
        report(problems)

    if str(message["MIME-Version"]) != "1.0":
        problems.append("MIME-Version is %r" % str(message["MIME-Version"]))
    date = email.utils.parsedate_to_datetime(str(message["Date"]))
    if date.tzinfo is None or abs((datetime.datetime.now(datetime.timezone.utc) - date).total_seconds()) > 600:
        problems.append("Date %r is not the current time with a zone" % str(message["Date"]))
    if not re.fullmatch(r"<[^<>@\s]+@[^<>@\s]+>", str(message["Message-ID"])):
        problems.append("Message-ID %r is malformed" % str(message["Message-ID"]))

    senders = message["From"].addresses
    if [a.addr_spec for a in senders] != [arguments.from_address]:
        problems.append("From is %r" % [a.addr_spec for a in senders])
    elif senders[0].display_name != text(arguments.from_name_hex):
        problems.append("From's display name is %r" % senders[0].display_name)
    recipients = [a.addr_spec for a in message["To"].addresses]
    if recipients != arguments.to:
        problems.append("To is %r, expected %r" % (recipients, arguments.to))
    if str(message["Subject"]) != text(arguments.subject_hex):
        problems.append("Subject is %r, expected %r" % (str(message["Subject"]), text(arguments.subject_hex)))

    expected_attachments = []
    for item in arguments.attachment:
        hex_name, path = item.split("=", 1)
        with open(path, "rb") as stream:
            expected_attachments.append((text(hex_name), stream.read()))

    if expected_attachments:
        if message.get_content_type() != "multipart/mixed":
            problems.append("the message is %s, not multipart/mixed" % message.get_content_type())
            report(problems)
        parts = list(message.iter_parts())
    else:
        parts = [message]
    text_part, attachment_parts = parts[0], parts[1:]

    if text_part.get_content_type() != "text/plain" or text_part.get_content_charset() != "utf-8":
        problems.append("the text part is %s charset %s" % (text_part.get_content_type(),
                                                             text_part.get_content_charset()))
    body = text_part.get_payload(decode=True)
    if body != bytes.fromhex(arguments.body_hex):
        problems.append("body is %r, expected %r" % (body, bytes.fromhex(arguments.body_hex)))

    if len(attachment_parts) != len(expected_attachments):
        problems.append("%d attachments, expected %d" % (len(attachment_parts), len(expected_attachments)))
    for index, (part, (name, data)) in enumerate(zip(attachment_parts, expected_attachments)):
        if part.get_content_disposition() != "attachment":
            problems.append("attachment %d has disposition %r" % (index, part.get_content_disposition()))
        if part.get_filename() != name:
            problems.append("attachment %d is named %r, expected %r" % (index, part.get_filename(), name))
        if part.get("Content-Transfer-Encoding", "").lower() != "base64":
            problems.append("attachment %d is not base64" % index)
        wire = part.get_payload(decode=False)
        if any(len(line) > 76 for line in wire.splitlines()):
            problems.append("attachment %d has base64 lines longer than 76" % index)
        if part.get_payload(decode=True) != data:
            problems.append("attachment %d differs from %s's bytes" % (index, name))

    if arguments.envelope:
        with open(arguments.envelope, encoding="utf-8") as stream:
            envelope = json.load(stream)
        if envelope["mail_from"] != arguments.from_address:
            problems.append("envelope sender is %r" % envelope["mail_from"])
        if envelope["rcpt_tos"] != arguments.to:
            problems.append("envelope recipients are %r" % envelope["rcpt_tos"])

    report(problems)


def report(problems):
    if problems:
        for problem in problems:
            print(problem)
        sys.exit(1)
    print("OK")
    sys.exit(0)


if __name__ == "__main__":
    main()
