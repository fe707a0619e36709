#!/usr/bin/python3
"""Reads a compiled help file as the viewers do, through pychm (python3-chm),
and prints what they would show, one "key=value" line each: the title, the
home page, the contents and index files found through the file itself and
how many sitemap entries they hold, the language from #SYSTEM code 4, and
whether every topic leads through #URLTBL and #URLSTR to a stored file."""
import re
import struct
import sys

import chm.chm as pychm
from chm import chmlib


def retrieve(f, name):
    result, unit = chmlib.chm_resolve_object(f.file, name)
    if result != chmlib.CHM_RESOLVE_SUCCESS:
        return None
    size, data = chmlib.chm_retrieve_object(f.file, unit, 0, unit.length)
    return data[:size]


def system_codes(data):
    codes, at = [], 4
    while at + 4 <= len(data):
        code, length = struct.unpack_from('<HH', data, at)
        codes.append((code, data[at + 4:at + 4 + length]))
        at += 4 + length
    return codes


def sitemap_entries(data):
    return len(re.findall(rb'type\s*=\s*"?text/sitemap', data or b'', re.I))


def topics_resolved(f):
    topics, urltbl, urlstr = (retrieve(f, n) for n in (b'/#TOPICS', b'/#URLTBL', b'/#URLSTR'))
    if topics is None or urltbl is None or urlstr is None:
        return 'missing'
    total = len(topics) // 16
    good = 0
    for k in range(total):
        url_record = struct.unpack_from('<I', topics, 16 * k + 8)[0]
        if url_record + 12 > len(urltbl) or struct.unpack_from('<I', urltbl, url_record + 4)[0] != k:
            continue
        string_at = struct.unpack_from('<I', urltbl, url_record + 8)[0] + 8
        path = urlstr[string_at:urlstr.find(b'\0', string_at)]
        if string_at < len(urlstr) and retrieve(f, b'/' + path) is not None:
            good += 1
    return '%d/%d' % (good, total)


def main(path, code_page):
    f = pychm.CHMFile()
    if not f.LoadCHM(path):
        print('open=failed')
        return
    system = retrieve(f, b'/#SYSTEM') or b''
    codes = system_codes(system)
    lcid = [struct.unpack_from('<I', data)[0] for code, data in codes if code == 4]
    order = [code for code, _ in codes]
    # Viewers read the codes they use from the first 4096 bytes only.
    late = 13 in order and any(c in order[order.index(13):] for c in range(7))
    print('title=%s' % (f.title or b'').decode(code_page, 'replace'))
    print('home=%s' % (f.home or b'').decode('utf-8', 'replace'))
    print('contents=%s' % (f.topics or b'').decode('utf-8', 'replace'))
    print('index=%s' % (f.index or b'').decode('utf-8', 'replace'))
    print('contents_entries=%d' % sitemap_entries(f.GetTopicsTree() if f.topics else None))
    print('index_entries=%d' % sitemap_entries(f.GetIndex() if f.index else None))
    print('lcid=%s' % (hex(lcid[0]) if lcid else 'none'))
    print('codes_after_13=%s' % ('yes' if late else 'no'))
    print('home_stored=%s' % ('yes' if f.home and retrieve(f, f.home) is not None else 'no'))
    print('topics_resolved=%s' % topics_resolved(f))


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else 'cp1252')
