#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes the fuzz seed corpus: small record files, each showing one shape of
record the engine must handle (separators, delimiter variants, long fields,
double-byte text, broken directories, short files). Run from anywhere; the
files land in the seeds/ folder beside this script."""

import os

HERE = os.path.dirname(os.path.abspath(__file__))
SEEDS = os.path.join(HERE, "seeds")

FT, SD, RT = b"\x1e", b"\x1f", b"\x1d"
GBK_TITLE = "中文书名".encode("gbk")
GBK_AUTHOR = "张三".encode("gbk")


def record(fields, ft=FT, rt=RT, length_delta=0, base_override=None):
    directory, data = b"", b""
    for tag, body in fields:
        body = body + ft
        directory += tag + b"%04d%05d" % (len(body), len(data))
        data += body
    directory += ft
    base = 24 + len(directory)
    length = base + len(data) + len(rt) + length_delta
    base_text = base_override if base_override is not None else b"%05d" % base
    leader = b"%05d" % length + b"nam0 22" + base_text + b"   450 "
    return leader + directory + data + rt


def sub(code, text, sd=SD):
    return sd + code + text


def plain(sd=SD):
    return [
        (b"001", b"c01"),
        (b"200", b"1 " + sub(b"a", b"Title text", sd) + sub(b"f", b"Auth", sd)),
        (b"210", b"  " + sub(b"a", b"Beijing", sd) + sub(b"d", b"2001", sd)),
    ]


def chinese(sd=SD):
    return [
        (b"001", b"c02"),
        (b"200", b"1 " + sub(b"a", GBK_TITLE, sd) + sub(b"f", GBK_AUTHOR, sd)),
        (b"330", b"  " + sub(b"a", b"x" * 71 + GBK_TITLE * 10, sd)),
    ]


def seeds():
    one, two = record(plain()), record(chinese())
    yield "two_records.mrc", one + two
    yield "crlf_between.mrc", one + b"\r\n" + two + b"\r\n"
    yield "variant1.mrc", record(plain(b"$"), ft=b"#") + record(chinese(b"$"), ft=b"#")
    yield "variant2.mrc", record(plain(b"$")) + record(chinese(b"$"))
    yield "wrap_77.mrc", record([(b"300", b"a" * 74), (b"301", b"b" * 200), (b"302", b"c" * 73 + GBK_TITLE)])
    yield "gbk_at_column_77.mrc", record([(b"330", b"  " + SD + b"a" + b"y" * 70 + GBK_TITLE * 40)])
    yield "length_24.mrc", b"00024" + b"x" * 19 + one
    yield "last_runs_past_end.mrc", one + record(plain())[:60]
    yield "length_too_long.mrc", record(plain(), length_delta=40) + two
    yield "directory_outside.mrc", record(plain(), base_override=b"00999") + two
    yield "base_below_24.mrc", record(plain(), base_override=b"00013") + two
    yield "junk_between.mrc", one + b"  \x00\x1a\n" + two + b"0\n"
    yield "dollar_literals.mrc", record([(b"200", b"1 $ $- $$a" + SD + b" " + SD + GBK_TITLE + SD)])
    yield "empty.mrc", b""
    utf8 = record([(b"245", b"10" + sub(b"a", b"a" * 73 + "中e\u0301\u0903".encode() * 30 + "רצבי".encode())),
                   (b"246", "\u0903".encode() * 90)])
    yield "utf8_wide_and_marks.mrc", utf8[:9] + b"a" + utf8[10:]
    yield "marc8_escapes.mrc", record([(b"245", b"10" + sub(b"a", b"a" * 74 + b"\xe2e\x1b(SaB\x1b(Zx\x1b$1!0!!0" + b"\xebi\xeca" * 30)),
                                       (b"880", sub(b"a", b"\x1b(2yez\x7f\x1b(B" + b"\xe2" + SD + b"b\x1b("))])
    # The server-reply check reads a first odd byte as "MARCXML follows".
    yield "sru_marcxml_reply.xml", (b"\x01<record xmlns=\"http://www.loc.gov/MARC21/slim\"><leader>00000nam a2200000 a 4500"
                                    b"</leader><controlfield tag=\"001\">x1</controlfield><datafield tag=\"245\" ind1=\"1\" "
                                    b"ind2=\"0\"><subfield code=\"a\">" + "红楼梦 &amp;".encode() + b"</subfield>"
                                    b"</datafield></record>")
    yield "gb18030_four_byte.mrc", record([(b"200", b"1 " + sub(b"a", b"x" * 72 + b"\x81\x30\x85\x38" * 20 + GBK_TITLE))])


def main():
    os.makedirs(SEEDS, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(SEEDS, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
