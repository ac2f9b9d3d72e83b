#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes samples/sample.mrc: a few fictional CNMARC-style records with GBK text.

Usage: python3 tools/make_sample.py [OUTPUT]
"""
import sys
from pathlib import Path

FT, SF, RT = b"\x1e", b"\x1f", b"\x1d"


def field(indicators, *subfields):
    body = indicators.encode("gbk")
    for code, text in subfields:
        body += SF + code.encode("ascii") + text.encode("gbk")
    return body


RECORDS = [
    [("001", b"VT0000000001"),
     ("010", field("  ", ("a", "978-7-5013-0001-2"), ("d", "CNY42.00"))),
     ("100", field("  ", ("a", "20031201d2003    em y0chiy0110    ea"))),
     ("101", field("0 ", ("a", "chi"))),
     ("200", field("1 ", ("a", "机读目录格式使用手册"), ("f", "国家图书馆编"))),
     ("210", field("  ", ("a", "北京"), ("c", "示例图书馆出版社"), ("d", "2003"))),
     ("215", field("  ", ("a", "312页"), ("d", "26cm"))),
     ("330", field("  ", ("a", "本书介绍中国机读目录格式的字段、子字段与著录规则，"
                              "并附有大量实例，供编目人员在日常工作中查阅参考。"))),
     ("606", field("0 ", ("a", "机读目录"), ("x", "格式"), ("j", "手册"))),
     ("701", field(" 0", ("a", "国家图书馆"), ("4", "编")))],
    [("001", b"VT0000000002"),
     ("010", field("  ", ("a", "978-7-0200-0002-9"), ("d", "CNY28.50"))),
     ("100", field("  ", ("a", "20031205d1998    em y0chiy0110    ea"))),
     ("200", field("1 ", ("a", "红楼梦"), ("f", "曹雪芹著"), ("g", "高鹗续"))),
     ("210", field("  ", ("a", "北京"), ("c", "示例文学出版社"), ("d", "1998"))),
     ("701", field(" 0", ("a", "曹雪芹"), ("4", "著")))],
    [("001", b"VT0000000003"),
     ("010", field("  ", ("a", "978-7-3020-0003-6"), ("d", "CNY55.00"))),
     ("200", field("1 ", ("a", "Data Structures in C"), ("d", "数据结构"), ("f", "Wang Wei"))),
     ("210", field("  ", ("a", "上海"), ("c", "示例科技出版社"), ("d", "2003"))),
     ("606", field("0 ", ("a", "数据结构"), ("x", "程序设计")))],
]


def record(fields):
    directory, data = b"", b""
    for tag, body in fields:
        body += FT
        directory += tag.encode("ascii") + b"%04d%05d" % (len(body), len(data))
        data += body
    directory += FT
    base = 24 + len(directory)
    length = base + len(data) + 1
    leader = b"%05dnam0 22%05d   450 " % (length, base)
    assert len(leader) == 24
    return leader + directory + data + RT


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "samples" / "sample.mrc"
    out.write_bytes(b"".join(record(r) for r in RECORDS))


if __name__ == "__main__":
    main()
