#include <functional>

#include "project/code_page.h"
#include "project_test_support.h"

namespace {
struct project_case {
    const char *name;
    std::string text;
    std::function<void(const help_project &)> check;
    std::vector<std::string> messages;
    std::vector<std::pair<std::string, std::string>> files = {};
};

const std::string window_line =
    "main=\"Caption\",\"toc.hhc\",\"index.hhk\",\"a.htm\",\"b\\home.htm\",,,\"http://x.org/\",\"Jump\","
    "0x63520,200,0x380e,[10,20,0x258,400],,,1,0,2,,42\n";

const std::vector<project_case> cases = {
    {"defaults",
     "[FILES]\nsub\\b.png\na.htm\n",
     [](const help_project &p) {
         EXPECT_EQ(p.project_name, "help.hhp");
         EXPECT_EQ(p.compiled_file, p.directory + "/help.chm");
         EXPECT_EQ(p.compiled_stem, "help");
         EXPECT_EQ(p.lcid, 0x409u);
         EXPECT_EQ(p.code_page, 1252u);
         EXPECT_EQ(p.files, (std::vector<std::string>{"sub/b.png", "a.htm"}));
         EXPECT_EQ(p.lines.files, (std::vector<unsigned>{2, 3}));
         EXPECT_EQ(p.default_topic, "a.htm");
     },
     {"WARNING: help.hhp: No Default topic: the first page of [FILES], a.htm, is shown first"}},
    {"options in any case, CRLF, comments and backslashes",
     "; a comment\r\n[options]\r\ncompiled FILE = out\\Help.CHM\r\nLANGUAGE=0x419 Russian\r\nTitle=The title\r\n"
     "contents file=.\\toc.hhc\r\nDefault Topic=pages\\a.htm#top\r\nfull-text search=Yes\r\nCompatibility=1.0\r\n"
     "Default Font=Arial,8,0\r\nFull text search stop list file=x.stp\r\n[Files]\r\npages\\a.htm\r\n",
     [](const help_project &p) {
         EXPECT_EQ(p.compiled_file, p.directory + "/out/Help.CHM");
         EXPECT_EQ(p.compiled_stem, "help");
         EXPECT_EQ(p.lcid, 0x419u);
         EXPECT_EQ(p.code_page, 1251u);
         EXPECT_EQ(p.title, "The title");
         EXPECT_EQ(p.contents_file, "toc.hhc");
         EXPECT_EQ(p.lines.contents_file, 6u);
         EXPECT_EQ(p.default_topic, "pages/a.htm#top");
         EXPECT_TRUE(p.full_text_search);
         EXPECT_TRUE(p.compatibility_1_0);
         EXPECT_EQ(p.default_font, "Arial,8,0");
         EXPECT_EQ(p.stop_list_file, "x.stp");
     },
     {}},
    {"unreadable and zero language",
     "[OPTIONS]\nLanguage=English\nDefault topic=a.htm\n",
     [](const help_project &p) { EXPECT_EQ(p.lcid, 0x409u); },
     {"help.hhp:2: Language \"English\" is not a language ID (using 0x409"}},
    {"options not acted on, unknown keys and sections",
     "[OPTIONS]\nDefault topic=a.htm\nCreate CHI file=Yes\nDisplay compile progress=No\nAuto TOC=0\nFlat=\n"
     "Error log file=log.txt\nColour=blue\nno equals sign\n[EXTRA]\nx=y\n[INFOTYPES]\na\nb\n[SUBSETS]\nc\n",
     nullptr,
     {"help.hhp:3: Option \"Create CHI file\" is not supported",
      "help.hhp:7: Option \"Error log file\" is not supported", "help.hhp:8: Unknown option \"Colour\"",
      "help.hhp:9: In [OPTIONS], a line without \"=\"", "help.hhp:10: Unknown section [EXTRA]",
      "help.hhp:13: Information types and subsets"}},
    {"binary tables get one note",
     "[OPTIONS]\nDefault topic=a.htm\nBinary Index=Yes\nBinary TOC=Yes\n",
     nullptr,
     {"NOTE: help.hhp:3: Binary TOC and Binary Index are not written: the viewers read the contents and index files "
      "instead"}},
    {"windows",
     "[OPTIONS]\nDefault topic=a.htm\nDefault Window=main\n[WINDOWS]\n" + window_line +
         "short=,,,,\nbad=\"unclosed,1\nbroken=\"x\",,,,,,,,,nine,1,2,[1,2,3,4],5,6,7,8,9,10,11,12\n",
     [](const help_project &p) {
         ASSERT_EQ(p.windows.size(), 4u);
         const project_window &w = p.windows[0];
         EXPECT_EQ(w.name, "main");
         EXPECT_EQ(w.caption, "Caption");
         EXPECT_EQ(w.contents_file, "toc.hhc");
         EXPECT_EQ(w.home_file, "b/home.htm");
         EXPECT_EQ(w.jump1_url, "");
         EXPECT_EQ(w.jump2_url, "http://x.org/");
         EXPECT_EQ(w.jump2_text, "Jump");
         EXPECT_EQ(w.navigation_style.value, 0x63520u);
         EXPECT_EQ(w.buttons.value, 0x380Eu);
         EXPECT_EQ(w.position[2].value, 600u);
         EXPECT_TRUE(w.position[3].given);
         EXPECT_FALSE(w.styles.given);
         EXPECT_EQ(w.show_state.value, 1u);
         EXPECT_TRUE(w.navigation_closed.given);
         EXPECT_EQ(w.default_tab.value, 2u);
         EXPECT_EQ(w.notify_id.value, 42u);
         EXPECT_EQ(p.windows[1].caption, "");
         EXPECT_EQ(p.lines.windows, (std::vector<unsigned>{5, 6, 7, 8}));
     },
     {"help.hhp:7: Window bad: a field without its closing \"",
      "help.hhp:8: Window broken: more than 20 fields (ignoring the rest)"}},
    {"aliases and maps with includes",
     "[OPTIONS]\nDefault topic=a.htm\n[ALIAS]\nIDH_A=a.htm\nIDH_B=sub\\b.htm#x\n#include more.ali\nIDH_LONELY=c.htm\n"
     "[MAP]\n#define IDH_A 10\n#include \"ids.h\"\n#define IDH_UNUSED 3\n#define BAD\n",
     [](const help_project &p) {
         ASSERT_EQ(p.context_ids.size(), 3u);
         EXPECT_EQ(p.context_ids[0].id, 10u);
         EXPECT_EQ(p.context_ids[0].file, "a.htm");
         EXPECT_EQ(p.context_ids[1].id, 0x20u);
         EXPECT_EQ(p.context_ids[1].file, "sub/b.htm#x");
         EXPECT_EQ(p.context_ids[2].id, 7u);
         EXPECT_EQ(p.context_ids[2].file, "d.htm");
         EXPECT_EQ(p.included_files.size(), 2u);
     },
     {"help.hhp:7: [ALIAS] names without a number in [MAP] (left out): IDH_LONELY",
      "help.hhp:11: [MAP] names without a file in [ALIAS] (left out): IDH_UNUSED",
      "help.hhp:12: A #define without a number", "ids.h:4: Cannot read missing.h"},
     {{"more.ali", "IDH_C=d.htm\n#include more.ali\n"},
      {"ids.h",
       "#ifndef IDS_H\n#define IDS_H\n#define IDH_B 0x20 // b\n#include <missing.h>\n#define IDH_C (7L)\n#endif\n"}}},
    {"UTF-8 strings into the code page",
     "[OPTIONS]\nDefault topic=a.htm\nTitle=D\xC3\xA9mo \xE2\x80\x94 \xE6\x97\xA5\n[WINDOWS]\nw=\"\xC3\xBC\"\n",
     [](const help_project &p) {
         EXPECT_EQ(p.title, "D\xE9mo \x97 ?");
         EXPECT_EQ(p.windows[0].caption, "\xFC");
     },
     {"help.hhp: Characters that code page 1252 lacks are shown as \"?\""}},
    {"code page bytes kept",
     "[OPTIONS]\nDefault topic=a.htm\nLanguage=1049\nTitle=\xC4\xE5\xEC\xEE\n",
     [](const help_project &p) {
         EXPECT_EQ(p.title, "\xC4\xE5\xEC\xEE");
         EXPECT_EQ(p.code_page, 1251u);
     },
     {}},
    {"a line of megabytes",
     "[OPTIONS]\nTitle=" + std::string(3 << 20, 'x') + "\n[FILES]\n",
     [](const help_project &p) { EXPECT_EQ(p.title.size(), 3u << 20); },
     {"help.hhp: No Default topic, and [FILES] lists no page"}},
};

struct failing_case {
    std::string text;
    std::string message;
};
const failing_case failures[] = {
    {"", "help.hhp: The project file is empty"},
    {" \r\n\t\n", "help.hhp: The project file is empty"},
    {std::string("[OPTIONS]\nTitle=x\n\0\x01\x02", 21), "help.hhp:3: The project file holds NUL bytes"},
    {"just some text\nand more\n", "help.hhp: No section ([OPTIONS], [FILES], ...): this is not a help project file"},
};
}  // namespace

TEST(project_file, ReadsEachCase) {
    for (const project_case &row : cases) {
        SCOPED_TRACE(row.name);
        temp_dir root;
        write_files(root, row.files);
        help_project project;
        stdout_capture capture;
        outcome result = parse_project_text(row.text, "help.hhp", root.path(), project);
        std::string output = capture.finish();
        ASSERT_TRUE(result.ok) << result.message;
        if (row.check) row.check(project);
        expect_messages(output, row.messages);
    }
}

TEST(project_file, RefusesWhatIsNoProject) {
    for (const failing_case &row : failures) {
        help_project project;
        stdout_capture capture;
        outcome result = parse_project_text(row.text, "help.hhp", ".", project);
        EXPECT_EQ(capture.finish(), "");
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message.find(row.message), 0u) << result.message;
    }
    help_project project;
    compile_report report;
    outcome result = read_project_file("/nonexistent/help.hhp", project, report);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "help.hhp: Cannot read the project file: No such file or directory");
}
