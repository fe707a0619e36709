#!/usr/bin/python3
"""Reads a compiled help file as the viewers do, through pychm (python3-chm),
and prints what they would show, one "key=value" line each: the title, the
home page, the contents and index files found through the file itself and
how many sitemap entries they hold, the language from #SYSTEM code 4, and
whether every topic leads through #URLTBL and #URLSTR to a stored file.

With full-text search, each page's words as a reader would type them are
found by a tokeniser of this script's own, and pychm's searches (whole
word, prefix, title only) must return exactly the pages holding them:
search_KIND=ok for a word on one page, on every page, only in a title,
of digits only, beyond ASCII (none when the pages have no such word).
The words of a stop list file, when one is named, are not looked for.

    chm_viewer_check.py FILE.chm [CODE_PAGE [STOP_LIST]]"""
import html.parser
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


INLINE = set('a abbr acronym b bdi bdo big cite code data dfn em font i kbd mark q s samp small span strike '
             'strong sub sup time tt u var wbr'.split())


class PageWords(html.parser.HTMLParser):
    """The words of a page: text outside script and style, split at every
    element that is not inline, letters and digits, lower-cased."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.body, self.title, self.skip, self.in_title, self.text = set(), set(), 0, False, []

    def flush(self):
        words = re.findall(r'[^\W_]+', ''.join(self.text))
        (self.title if self.in_title else self.body).update(w.lower() for w in words)
        self.text = []

    def handle_starttag(self, tag, attrs):
        if tag not in INLINE:
            self.flush()
        if tag in ('script', 'style'):
            self.skip += 1
        if tag == 'title':
            self.in_title = True

    def handle_endtag(self, tag):
        if tag not in INLINE:
            self.flush()
        if tag in ('script', 'style') and self.skip:
            self.skip -= 1
        if tag == 'title':
            self.in_title = False

    def handle_data(self, data):
        if not self.skip:
            self.text.append(data)


def decoded(page, code_page):
    declared = re.search(rb'charset\s*=\s*["\']?([-\w]+)', page[:2048], re.I)
    for charset in ([declared.group(1).decode()] if declared else []) + ['utf-8', code_page]:
        try:
            return page.decode(charset)
        except (UnicodeDecodeError, LookupError):
            pass
    return page.decode('latin-1')


def topic_pages(f):
    topics, urltbl, urlstr = (retrieve(f, n) for n in (b'/#TOPICS', b'/#URLTBL', b'/#URLSTR'))
    for k in range(len(topics) // 16):
        string_at = struct.unpack_from('<I', urltbl, struct.unpack_from('<I', topics, 16 * k + 8)[0] + 8)[0] + 8
        yield urlstr[string_at:urlstr.find(b'\0', string_at)]


def check_search(f, code_page, stop_words):
    pages = {}
    for url in topic_pages(f):
        words = PageWords()
        words.feed(decoded(retrieve(f, b'/' + url), code_page))
        words.flush()
        words.close()
        pages[url] = words
    body = {}
    for url, words in pages.items():
        for word in words.body - stop_words:
            body.setdefault(word, set()).add(url)
    title = {}
    for url, words in pages.items():
        for word in words.title - stop_words:
            title.setdefault(word, set()).add(url)
    kinds = {
        'one_page': [w for w in sorted(body) if len(body[w]) == 1 and w.isascii()],
        'every_page': [w for w in sorted(body) if len(body[w]) == len(pages) and w.isascii()],
        'title_only': [w for w in sorted(title) if w not in body and w.isascii()],
        'digits': [w for w in sorted(body) if w.isdigit() and w.isascii()],
        'non_ascii': [w for w in sorted(body) if not w.isascii()],
    }
    for kind, candidates in kinds.items():
        result = 'none'
        # The first, middle and last, to reach every leaf of a large index.
        for word in dict.fromkeys(candidates[:1] + candidates[len(candidates) // 2:][:1] + candidates[-1:]):
            try:
                query = word.encode(code_page)
            except UnicodeEncodeError:
                continue
            # A whole word is the body's entry when there is one, else the title's.
            whole = body.get(word) or title.get(word, set())
            prefix = set().union(*[urls for table in (body, title) for w, urls in table.items() if w.startswith(word)])
            checks = [(1, 0, whole), (0, 0, prefix), (1, 1, title.get(word, set()))]
            for wholewords, titleonly, expected in checks:
                found = f.Search(query, wholewords, titleonly)[1]
                titles = {pages_title(f, url) for url in expected}
                if set(found.values()) - expected or set(found) != titles:
                    result = 'mismatch %r whole=%d title=%d: expected %s, found %s' % (
                        word, wholewords, titleonly, sorted(expected), sorted(found.values()))
                    break
            else:
                result = 'ok' if result in ('none', 'ok') else result
                continue
            break
        print('search_%s=%s' % (kind, result))


def pages_title(f, url):
    topics, urltbl, urlstr, strings = (retrieve(f, n) for n in (b'/#TOPICS', b'/#URLTBL', b'/#URLSTR', b'/#STRINGS'))
    for k in range(len(topics) // 16):
        string_at = struct.unpack_from('<I', urltbl, struct.unpack_from('<I', topics, 16 * k + 8)[0] + 8)[0] + 8
        if urlstr[string_at:urlstr.find(b'\0', string_at)] == url:
            at = struct.unpack_from('<I', topics, 16 * k + 4)[0]
            return b'Untitled in index' if at == 0xFFFFFFFF else strings[at:strings.find(b'\0', at)]


def main(path, code_page, stop_list):
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
    print('searchable=%s' % ('yes' if f.searchable else 'no'))
    if f.searchable:
        print('fulltext_depth=%d' % struct.unpack_from('<H', retrieve(f, b'/$FIftiMain'), 0x18)[0])
        stop_words = set(open(stop_list, encoding='utf-8').read().lower().split()) if stop_list else set()
        check_search(f, code_page, stop_words)


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else 'cp1252', sys.argv[3] if len(sys.argv) > 3 else None)
