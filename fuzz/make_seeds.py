#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora into fuzz/corpus/. The seeds are ours:
small hand-made messages and texts that reach the interesting paths (dates in
many forms, senders in every header, envelope lines, quoting). Run it again
after changing a seed; the files are kept in the repository."""

import os

HERE = os.path.dirname(os.path.abspath(__file__))

HEADER_SEEDS = {
    "plain": b"From: Ann <ann@example.org>\r\nTo: bob@example.org\r\n"
             b"Subject: hello\r\nDate: Tue, 05 Mar 2013 14:07:09 +0100\r\n\r\nbody\r\n",
    "return-path": b"Return-Path: <bounce@example.org>\nFrom: ann@example.org\n"
                   b"Date: Mon, 1 Jul 2013 00:05:09 -0700\n\n",
    "sender-only": b"Sender: list@example.org\nSubject: x\n\n",
    "received-date": b"Received: from a by b; Sat, 29 Feb 2020 23:59:59 +1400\n"
                     b"Received: from c by d; Fri, 28 Feb 2020 10:00:00 +0000\nFrom: a@b.c\n\n",
    "bad-date": b"From: a@b.c\nDate: 45 Foo 2013 99:99:99 +9999\n\n",
    "obsolete-date": b"From: a@b.c\nDate: Tuesday, 05-Mar-13 14:07:09 GMT\n\n",
    "group": b"From: undisclosed: ann@example.org, bob@example.org;\n\n",
    "encoded": b"From: =?utf-8?b?QW5u?= <ann@example.org>\nContent-Type: text/plain;"
               b" charset=\"utf-8\"\n\n",
    "eight-bit": b"From: \xe9t\xe9 <\xe9t\xe9@example.org>\nContent-Type: text/plain; "
                 b"charset=iso-8859-1\n\n",
    "folded": b"Return-Path: <a\r\n @example.org>\r\nFrom: \"A\r\n B\" <b@example.org>\r\n\r\n",
    "controls": b"From: <a\x01\x0b\x0c\x7fb@example.org>\nReturn-Path: <>\n\n",
    "unicode-space": b"From: <a\xc2\xa0b\xe2\x80\xa8c@example.org>\n\n",
    "envelope": b"From old@example.org Tue Mar  5 14:07:09 2013\nFrom: new@example.org\n\n",
    "no-blank-line": b"From: a@b.c\nSubject: no end",
    "empty": b"",
    "nul": b"From: a\x00b@example.org\nDate: Tue, 05 Mar 2013\x00 14:07:09\n\n",
    "bare-cr": b"From: a@b.c\rDate: Tue, 05 Mar 2013 14:07:09 +0000\r\r",
}

QUOTING_SEEDS = {
    "plain": b"Subject: x\r\n\r\nbody\r\n",
    "from-lines": b"Subject: x\n\nFrom here\n>From there\n>>From everywhere\nFrom:\n From x\nFrom",
    "envelope": b"From old@example.org Tue Mar  5 14:07:09 2013\nSubject: x\n\nFrom y\n",
    "envelope-only": b"From old@example.org",
    "no-final-line-end": b"Subject: x\n\nlast line",
    "cr-only": b"Subject: x\r\rFrom \r>From \r",
    "crlf-from": b"\r\nFrom \r\n>From \r\n",
    "empty": b"",
    "arrows": b">\n>>\n>From\n>From \n",
}


def write(kind, seeds):
    folder = os.path.join(HERE, "corpus", kind)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


write("header_reader_fuzzer", HEADER_SEEDS)
write("mbox_quoting_fuzzer", QUOTING_SEEDS)
