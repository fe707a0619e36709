#include "project/css_references.h"
#include "project/page_scan.h"
#include "project/project_paths.h"
#include "project_test_support.h"

namespace {
struct reference_case {
    const char *reference;
    const char *base;
    reference_kind kind;
    const char *path;
};

const reference_case reference_cases[] = {
    {"b.htm", "sub", reference_kind::local, "sub/b.htm"},
    {"  ../a.htm#top ", "sub", reference_kind::local, "a.htm"},
    {"./x/./y.png?v=2#f", "", reference_kind::local, "x/y.png"},
    {"..\\img\\a%20b%2Fc.gif", "sub/deeper", reference_kind::local, "sub/img/a b/c.gif"},
    {"/top.htm", "sub", reference_kind::local, "top.htm"},
    {"%zz%4", "", reference_kind::local, "%zz%4"},
    {"../../a.htm", "sub", reference_kind::outside, "../../a.htm"},
    {"C:\\help\\a.htm", "", reference_kind::outside, "C:/help/a.htm"},
    {"http://example.org/a.htm", "", reference_kind::external, "http://example.org/a.htm"},
    {"//host/a.htm", "", reference_kind::external, "//host/a.htm"},
    {"mailto:a@b.org", "", reference_kind::external, "mailto:a@b.org"},
    {"ms-its:other.chm::/a.htm", "", reference_kind::external, "ms-its:other.chm::/a.htm"},
    {"other.chm::/a.htm", "", reference_kind::external, "other.chm::/a.htm"},
    {"data:image/png;base64,AAAA", "", reference_kind::external, "data:image/png;base64,AAAA"},
    {"#top", "sub", reference_kind::none, ""},
    {"", "sub", reference_kind::none, ""},
    {"sub/..", "", reference_kind::none, ""},
};

void collect_reference(void *user, std::string_view reference, unsigned line) {
    static_cast<std::vector<std::string> *>(user)->push_back(std::string(reference) + "@" + std::to_string(line));
}

const std::string style_sheet =
    "@import \"a.css\";\n@IMPORT url(b.css) screen;\n/* url(c.png) @import \"d.css\"; */\n"
    "p { background: URL( 'e f.png' ); content: \"url(g.png)\" }\n"
    "q { background: url(h\\).png) } r { x: url(\"i.png\") url( j.png ) }\n@import 'k.css'";
const std::vector<std::string> style_references = {"a.css@1", "b.css@2", "e f.png@4", "h).png@5",
                                                   "i.png@5", "j.png@5", "k.css@6"};
}  // namespace

TEST(reference, ResolvesEachKind) {
    for (const reference_case &row : reference_cases) {
        resolved_reference result = resolve_reference(row.reference, row.base);
        EXPECT_EQ(result.kind, row.kind) << row.reference;
        EXPECT_EQ(result.path, row.path) << row.reference;
    }
}

TEST(css_references, FindsUrlsAndImportsWhereverTheTextIsSplit) {
    for (size_t split = 0; split <= style_sheet.size(); split++) {
        std::vector<std::string> found;
        css_scanner scanner;
        scanner.found = collect_reference;
        scanner.user = &found;
        scan_css(scanner, std::string_view(style_sheet).substr(0, split));
        scan_css(scanner, std::string_view(style_sheet).substr(split));
        ASSERT_EQ(found, style_references) << "split at " << split;
    }
}

TEST(page_scan, FindsTitleAndReferencesInBrokenOrHugePages) {
    struct page_case {
        const char *name;
        std::string bytes;
        std::string title;  // in code page 1252
        size_t references;
    };
    std::string deep;
    for (int i = 0; i < 100000; i++) deep += "<div><a href=\"x.htm\">";
    const page_case cases[] = {
        {"undeclared UTF-8", "<title>caf\xC3\xA9</title><img src=\"\xC3\xA9.png\">", "caf\xE9", 1},
        {"undeclared, not UTF-8 after the title", "<title>caf\xC3\xA9</title><p>\xE9</p>", "caf\xC3\xA9", 0},
        {"unclosed everything", "<html><head><title>T<body><a href='a.htm'><img src=b.png", "T", 2},
        {"a line of megabytes", "<title>x</title><p>" + std::string(4 << 20, 'w') + "<a href=a.htm>", "x", 1},
        {"a comment of megabytes", "<title>x</title><!--" + std::string(4 << 20, '-') + "<a href=a.htm>", "x", 0},
        {"thousands of levels", "<title>deep</title>" + deep, "deep", 100000},
        {"NUL bytes", std::string("<title>a\0b</title>\0\0<a href=\"c.htm\">", 35), "a b", 1},
        {"no markup at all", std::string(100000, '\xFF'), "", 0},
    };
    for (const page_case &row : cases) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> found;
        page_scan page;
        page.reference = collect_reference;
        page.user = &found;
        scan_page_text(page, row.bytes);
        bool lost = false;
        EXPECT_EQ(page_title(page, 1252, lost), row.title);
        EXPECT_EQ(found.size(), row.references);
    }
}
