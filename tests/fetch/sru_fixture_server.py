#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""A small SRU server for the fetch suite, on loopback only. It answers
searchRetrieve from fixed replies chosen by the query's term:
  ISBN-13 9787020002207 -> no hit; its ISBN-10 702000220X -> the fixture record
  "broken"    -> XML cut off in the middle
  "manyhits"  -> numberOfRecords 2^31, records made up for any range asked
  "bigrecord" -> one record of more than 99,999 bytes
  "gbkbytes"  -> a reply that declares UTF-8 but holds GBK bytes
anything else -> no hit. Prints its port on the first line of standard output."""
import http.server
import socketserver
import sys
import urllib.parse

FIXTURE = sys.argv[1]  # the MARCXML <record> the ISBN-10 finds (UTF-8)
RECORD = open(FIXTURE, encoding="utf-8").read()


def made_record(n, title):
    return ('<record xmlns="http://www.loc.gov/MARC21/slim"><leader>00000nam a2200000 a 4500</leader>'
            f'<controlfield tag="001">made{n}</controlfield>'
            f'<datafield tag="245" ind1="0" ind2="0"><subfield code="a">{title}</subfield></datafield></record>')


def reply(hits, records, start):
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n'
             '<zs:searchRetrieveResponse xmlns:zs="http://www.loc.gov/zing/srw/">'
             f'<zs:version>1.2</zs:version><zs:numberOfRecords>{hits}</zs:numberOfRecords>']
    if records:
        parts.append('<zs:records>')
        for i, record in enumerate(records):
            parts.append('<zs:record><zs:recordSchema>marcxml</zs:recordSchema>'
                         '<zs:recordPacking>xml</zs:recordPacking><zs:recordData>'
                         f'{record}</zs:recordData><zs:recordPosition>{start + i}</zs:recordPosition></zs:record>')
        parts.append('</zs:records>')
    parts.append('</zs:searchRetrieveResponse>\n')
    return ''.join(parts).encode('utf-8')


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        params = urllib.parse.parse_qs(urllib.parse.urlparse(self.path).query)
        query = params.get('query', [''])[0]
        start = int(params.get('startRecord', ['1'])[0])
        wanted = int(params.get('maximumRecords', ['0'])[0])
        term = query.split('=', 1)[-1].strip('"')
        if term == '702000220X':
            body = reply(1, [RECORD] if wanted else [], start)
        elif term == 'broken':
            body = reply(1, [made_record(1, 'cut')] if wanted else [], start)[:150]
        elif term == 'manyhits':
            body = reply(2 ** 31, [made_record(start + i, 'many') for i in range(wanted)], start)
        elif term == 'bigrecord':
            big = ('<record xmlns="http://www.loc.gov/MARC21/slim"><leader>00000nam a2200000 a 4500</leader>'
                   + ''.join('<datafield tag="500" ind1=" " ind2=" "><subfield code="a">%s</subfield></datafield>'
                             % ('x' * 9000) for _ in range(12)) + '</record>')
            body = reply(1, [big] if wanted else [], start)
        elif term == 'gbkbytes':
            body = reply(1, [made_record(1, 'TITLE')] if wanted else [], start).replace(
                b'TITLE', '红楼梦'.encode('gbk'))
        else:
            body = reply(0, [], start)
        self.send_response(200)
        self.send_header('Content-Type', 'text/xml')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


server = Server(('127.0.0.1', 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
