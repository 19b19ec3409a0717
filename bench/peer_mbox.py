#!/usr/bin/env python3
"""Converts an extracted mail export with Python's standard library only.

    peer_mbox.py SOURCE DEST

This is the script a technical user would write instead of using
quillfen-cli: walk the tree, parse every .eml file with the email package and
add it to a mailbox.mbox at the same mirror path (the source folder's path
without its leading separator, below DEST; a batch folder "<name>!N" goes
into the mailbox of its sibling "<name>"). It serves the benchmark as the
peer that quillfen-cli is measured against.
"""

import email
import mailbox
import os
import re
import sys

BATCH_FOLDER = re.compile(r"^(.+)!([1-9][0-9]*)$")


def mail_folder_of(folder):
    """The folder whose mailbox the messages of folder go into."""
    match = BATCH_FOLDER.match(os.path.basename(folder))
    if match:
        sibling = os.path.join(os.path.dirname(folder), match.group(1))
        if os.path.isdir(sibling):
            return sibling
    return folder


def convert(source, destination):
    source = os.path.abspath(source)
    destination = os.path.abspath(destination)
    count = 0
    for folder, subfolders, files in os.walk(source):
        subfolders.sort()
        messages = sorted(f for f in files if f.rstrip(" ").lower().endswith(".eml"))
        if not messages:
            continue
        mail_folder = mail_folder_of(folder)
        mirror = os.path.join(destination, mail_folder.lstrip(os.sep))
        os.makedirs(mirror, exist_ok=True)
        box = mailbox.mbox(os.path.join(mirror, os.path.basename(mail_folder) + ".mbox"))
        try:
            for name in messages:
                with open(os.path.join(folder, name), "rb") as message_file:
                    message = email.message_from_binary_file(message_file)
                box.add(message)
                count += 1
            box.flush()
        finally:
            box.close()
    return count


def main(argv):
    if len(argv) != 3:
        print("usage: peer_mbox.py SOURCE DEST", file=sys.stderr)
        return 2
    count = convert(argv[1], argv[2])
    print(f"converted {count} messages")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
