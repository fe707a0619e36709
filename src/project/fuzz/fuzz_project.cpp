// Feeds the project reader's parsers bytes of any kind: the first byte picks
// the project file, a sitemap, a page (tokenised into a full-text index too)
// or a style sheet. Whatever the bytes, they must end in messages, never in
// a crash, a hang or a leak.
#include <cstdint>
#include <cstdio>
#include <string>

#include "internal_files/full_text_index.h"
#include "project/css_references.h"
#include "project/page_scan.h"
#include "project/read_project.h"
#include "project/sitemap.h"

namespace {
void ignore_reference(void *, std::string_view, unsigned) {}
void index_text(void *index, std::string_view text, bool in_title) {
    add_text(*static_cast<full_text_index *>(index), text, in_title);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The readers warn through standard output: thousands of runs a second.
    if (!freopen("/dev/null", "w", stdout)) return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    std::string_view bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
    uint32_t code_page = data[0] & 0x10 ? 1251 : 1252;
    switch (data[0] % 4) {
    case 0: {
        help_project project;
        // A directory that does not exist: #include lines find nothing.
        parse_project_text(bytes, "fuzz.hhp", "/nonexistent-fuzz-project", project);
        break;
    }
    case 1: {
        sitemap_contents contents;
        read_sitemap_text(bytes, "fuzz.hhc", code_page, contents);
        break;
    }
    case 2: {
        page_scan page;
        full_text_index index;
        page.reference = ignore_reference;
        page.text = index_text;
        page.user = &index;
        start_document(index, data[0] >> 5);
        scan_page_text(page, bytes);
        end_document(index);
        bool lost = false;
        page_title(page, code_page, lost);
        build_full_text_file(index, 8, 0x409, code_page);
        break;
    }
    case 3: {
        css_scanner scanner;
        scanner.found = ignore_reference;
        // In two pieces, as a file read piece by piece may split it.
        size_t half = bytes.size() / 2;
        scan_css(scanner, bytes.substr(0, half));
        scan_css(scanner, bytes.substr(half));
        break;
    }
    }
    return 0;
}
