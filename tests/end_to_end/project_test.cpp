// Help projects compiled by the kelto binary and read back by libmspack,
// chmlib and 7-Zip (every stored file byte for byte) and by pychm
// (python3-chm), as the viewers read them: title, home page, contents and
// index found through the file itself, language, topics.
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "its_check.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {
const char python[] = "/usr/bin/python3";

const std::vector<std::string> always_internal = {
    "/#IDXHDR", "/#ITBITS", "/#STRINGS", "/#SYSTEM", "/#TOPICS", "/#URLSTR", "/#URLTBL",
    "/$WWAssociativeLinks/Property", "/$WWKeywordLinks/Property"};

struct project_case {
    std::string name;
    // Below the project directory; the first is the project file.
    std::vector<std::pair<std::string, std::string>> files;
    int status;
    std::vector<std::string> messages;  // each among what the run prints
    std::vector<std::string> stored;    // internal names of the author's files
    std::vector<std::string> internal;  // internal files beyond the ones every .chm has
    std::vector<std::string> viewer;    // "key=value" lines of chm_viewer_check.py
    std::string code_page = "cp1252";
};

// What chm_viewer_check.py reads from the file.
std::map<std::string, std::string> viewer_view(const std::string &chm, const std::string &code_page,
                                               const std::string &stop_list) {
    std::vector<std::string> command = {python, std::string(KELTO_SOURCE_DIR) + "/tests/end_to_end/chm_viewer_check.py",
                                        chm, code_page};
    if (!stop_list.empty()) command.push_back(stop_list);
    process_result result = run_process(command);
    EXPECT_EQ(result.status, 0) << result.output;
    std::map<std::string, std::string> view;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
        size_t equals = line.find('=');
        if (equals != std::string::npos) view[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return view;
}

void expect_viewer_sees(const std::string &chm, const std::vector<std::string> &lines, const std::string &code_page,
                        const std::string &stop_list = "") {
    std::map<std::string, std::string> view = viewer_view(chm, code_page, stop_list);
    EXPECT_EQ(view["codes_after_13"], "no");
    for (const std::string &line : lines) {
        size_t equals = line.find('=');
        EXPECT_EQ(view[line.substr(0, equals)], line.substr(equals + 1)) << chm;
    }
}

// Compiles the project file in dir and checks the .chm with every reader.
void compile_and_check(const std::string &dir, const std::string &project, const std::string &chm,
                       const project_case &c, const std::string &scratch) {
    process_result result = run_kelto({project}, dir);
    EXPECT_EQ(result.status, c.status) << result.output;
    for (const std::string &message : c.messages)
        EXPECT_NE(result.output.find(message), std::string::npos) << message << "\nin:\n" << result.output;
    ASSERT_TRUE(path_exists(chm)) << result.output;
    std::vector<std::string> internal = always_internal;
    internal.insert(internal.end(), c.internal.begin(), c.internal.end());
    check_with_every_reader(chm, expected_project_entries(dir, c.stored, internal), scratch);
    expect_viewer_sees(chm, c.viewer, c.code_page);
}

const std::string sitemap_head =
    "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\n<HTML><HEAD>\n<!-- Sitemap 1.0 -->\n</HEAD><BODY>\n";
std::string sitemap_item(const std::string &name, const std::string &local) {
    return "<LI> <OBJECT type=\"text/sitemap\">\n<param name=\"Name\" value=\"" + name +
           "\">\n<param name=\"Local\" value=\"" + local + "\">\n</OBJECT>\n";
}
std::string page(const std::string &head, const std::string &body) {
    return "<html><head>" + head + "</head><body>" + body + "</body></html>\n";
}
// Thousands of words, most on this page alone, so that the full-text index
// needs more than one leaf; "common" and a number on every page.
std::string many_words(uint32_t seed) {
    std::string text = "<p>common 4711";
    for (uint32_t i = 0; i < 4000; i++) {
        uint32_t n = seed * 4000 + i;
        text += " w";
        for (uint32_t k = 0; k < 4; k++, n /= 26) text += static_cast<char>('a' + n % 26);
    }
    return text + "</p>";
}

const std::vector<project_case> cases = {
    {"options_windows_aliases",
     {{"manual.hhp", "[OPTIONS]\r\nCompatibility=1.1 or later\r\nCompiled file=manual.chm\r\nContents file=toc.hhc\r\n"
                     "Index file=Index.hhk\r\nDefault topic=intro.html\r\nDefault Window=main\r\n"
                     "Display compile progress=No\r\nFull-text search=Yes\r\nLanguage=0x407 Deutsch (Deutschland)\r\n"
                     "Title=Handbuch f\xC3\xBCr kelto\r\n\r\n[WINDOWS]\r\n"
                     "main=\"Handbuch f\xC3\xBCr kelto\",\"toc.hhc\",\"Index.hhk\",\"intro.html\",\"intro.html\",,,,,"
                     "0x63520,220,0x10384e,[0,0,1024,768],,,,,,,0\r\n\r\n[FILES]\r\nintro.html\r\npages\\setup.html\r\n"
                     "\r\n[ALIAS]\r\nIDH_INTRO=intro.html\r\nIDH_SETUP=pages\\setup.html\r\n\r\n[MAP]\r\n"
                     "#include ids.h\r\n"},
      {"ids.h", "#define IDH_INTRO 100\n#define IDH_SETUP 0x200\n"},
      {"toc.hhc", sitemap_head + "<UL>\n" + sitemap_item("Einf\xFChrung", "intro.html") +
                      sitemap_item("Einrichtung", "pages/setup.html") + "</UL>\n</BODY></HTML>\n"},
      {"Index.hhk", sitemap_head + "<UL>\n" + sitemap_item("kelto", "intro.html") +
                        sitemap_item("setup", "pages/setup.html") + sitemap_item("window", "pages/setup.html#w") +
                        "</UL>\n</BODY></HTML>\n"},
      {"intro.html", page("<meta charset=\"utf-8\"><title>Einf\xC3\xBChrung</title>",
                          "<p>kelto 2026</p><a href=\"pages/setup.html\">Weiter</a><img src=\"images/logo.png\">")},
      {"pages/setup.html", page("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">"
                                "<title>Einrichtung \xE4ndern</title>",
                                "<p>kelto 2026 <b>ein</b>richten</p><a href=\"../intro.html\">Zur\xFC""ck</a>")},
      {"images/logo.png", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16)}},
     0,
     {},
     {"/Index.hhk", "/images/logo.png", "/intro.html", "/pages/setup.html", "/toc.hhc"},
     {"/#IVB", "/#WINDOWS", "/$FIftiMain"},
     {"title=Handbuch f\xC3\xBCr kelto", "home=/intro.html", "contents=/toc.hhc", "index=/Index.hhk",
      "contents_entries=2", "index_entries=3", "lcid=0x407", "home_stored=yes", "topics_resolved=2/2",
      "searchable=yes", "search_one_page=ok", "search_every_page=ok", "search_title_only=ok", "search_digits=ok",
      "search_non_ascii=ok"}},
    {"references",
     {{"site.hhp", "[OPTIONS]\nTitle=References\nDefault topic=index.html\n\n[FILES]\nindex.html\n"},
      {"index.html",
       page("<title>Start</title><link rel=\"stylesheet\" href=\"css/style.css\">",
            "<a href=\"b.html#top\">b</a> <img src=\"img/a%20b.png?v=2\"> <a href=\"../outside.html\">out</a> "
            "<a href=\"http://example.com/x.html\">ext</a> <a href=\"nothing.html\">gone</a> "
            "<div style=\"background: url('img/bg.png')\"></div>")},
      {"b.html", page("<title>B</title>", "<a href=\"index.html\">back</a><iframe src=\"frame.html\"></iframe>")},
      {"frame.html", page("<title>Frame</title>", "<a href=\"b.html\">b</a>")},
      {"css/style.css", "@import \"more.css\";\nbody { background: url(../img/tile.png) }\n"},
      {"css/more.css", "/* url(commented.png) */ p { color: red }\n"},
      {"img/a b.png", "png a b"},
      {"img/bg.png", "png bg"},
      {"img/tile.png", "png tile"},
      {"img/unused.png", "not stored"}},
     0,
     {"outside.html", "nothing.html"},
     {"/b.html", "/css/more.css", "/css/style.css", "/frame.html", "/img/a b.png", "/img/bg.png", "/img/tile.png",
      "/index.html"},
     {},
     {"title=References", "home=/index.html", "contents=", "index=", "lcid=0x409", "home_stored=yes",
      "topics_resolved=3/3", "searchable=no"}},
    {"missing_file_and_no_default_topic",
     {{"plain.hhp", "[OPTIONS]\nTitle=Plain\n[FILES]\nfirst.htm\nmissing.html\n"},
      {"first.htm", page("<title>First</title>", "one")}},
     1,
     {"missing.html", "Could not read all of the input: 1 entry is missing"},
     {"/first.htm"},
     {},
     {"title=Plain", "home=/first.htm", "home_stored=yes", "topics_resolved=1/1"}},
    {"cyrillic_and_names_differing_in_case",
     {{"help.hhp", "[OPTIONS]\nLanguage=0x419\nTitle=\xD0\xA1\xD0\xBF\xD1\x80\xD0\xB0\xD0\xB2\xD0\xBA\xD0\xB0\n"
                   "Default topic=Readme.html\n[FILES]\nReadme.html\nREADME.html\n"},
      {"Readme.html", page("<meta charset=\"utf-8\"><title>\xD0\x9E\xD0\xB1\xD0\xB7\xD0\xBE\xD1\x80</title>", "x")},
      // The same bytes: readers look names up regardless of case and find either.
      {"README.html", page("<meta charset=\"utf-8\"><title>\xD0\x9E\xD0\xB1\xD0\xB7\xD0\xBE\xD1\x80</title>", "x")}},
     0,
     {"differ only in case"},
     {"/README.html", "/Readme.html"},
     {},
     {"title=\xD0\xA1\xD0\xBF\xD1\x80\xD0\xB0\xD0\xB2\xD0\xBA\xD0\xB0", "home=/Readme.html", "lcid=0x419",
      "topics_resolved=2/2"},
     "cp1251"},
    {"search_index_of_two_levels",
     {{"words.hhp", "[OPTIONS]\nTitle=Words\nFull-text search=Yes\n[FILES]\nw0.html\nw1.html\nw2.html\n"},
      {"w0.html", page("<title>Words 0</title>", many_words(0))},
      {"w1.html", page("<title>Words 1</title>", many_words(1))},
      {"w2.html", page("<title>Words 2</title>", many_words(2))}},
     0,
     {},
     {"/w0.html", "/w1.html", "/w2.html"},
     {"/$FIftiMain"},
     {"home=/w0.html", "topics_resolved=3/3", "searchable=yes", "search_one_page=ok", "search_every_page=ok",
      "search_digits=ok", "fulltext_depth=2"}},
};

void PrintTo(const project_case &c, std::ostream *out) { *out << c.name; }

class project_round_trip : public ::testing::TestWithParam<project_case> {
  protected:
    temp_dir work;
};

std::string stem(const std::string &project) { return project.substr(0, project.rfind('.')); }
}  // namespace

TEST_P(project_round_trip, ReadersSeeTheProject) {
    const project_case &c = GetParam();
    std::string dir = work / "project";
    for (const auto &[path, bytes] : c.files) write_file(dir + "/" + path, bytes);
    write_file(work / "outside.html", "outside the project");
    std::string project = c.files[0].first;
    compile_and_check(dir, project, dir + "/" + stem(project) + ".chm", c, work.path());
}

INSTANTIATE_TEST_SUITE_P(projects, project_round_trip, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<project_case> &info) { return info.param.name; });

namespace {
// [FILES] of a generated project, as internal names.
std::vector<std::string> listed_files(const std::string &project) {
    std::vector<std::string> files;
    std::istringstream lines(read_file(project));
    bool in_files = false;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.starts_with('[')) {
            in_files = line == "[FILES]";
        } else if (in_files && !line.empty()) {
            for (char &c : line) c = c == '\\' ? '/' : c;
            files.push_back("/" + line);
        }
    }
    return files;
}

// A project a generator wrote into dir, compiled: every file the .chm holds
// comes back byte for byte from every reader, [FILES] among them.
void check_generated(const std::string &dir, const std::string &chm, const std::string &project,
                     const std::vector<std::string> &internal, const std::string &scratch) {
    std::vector<std::string> stored = stored_names(chm);
    for (const std::string &listed : listed_files(project))
        EXPECT_NE(std::find(stored.begin(), stored.end(), listed), stored.end()) << listed;
    std::vector<std::string> all = always_internal;
    all.insert(all.end(), internal.begin(), internal.end());
    check_with_every_reader(chm, expected_project_entries(dir, stored, all), scratch);
}

size_t sitemap_entries(const std::string &path) {
    std::string text = read_file(path);
    size_t count = 0;
    for (size_t at = text.find("text/sitemap"); at != std::string::npos; at = text.find("text/sitemap", at + 1))
        count++;
    return count;
}
}  // namespace

TEST(generated_project, SphinxHtmlHelpBuilder) {
    // reST that a Debian package ships (python3-lazr.restfulclient), built
    // by Sphinx's htmlhelp builder as documentation pipelines do.
    const fs::path docs = "/usr/share/doc/python3-lazr.restfulclient";
    ASSERT_TRUE(fs::is_directory(docs)) << "the test command installs python3-lazr.restfulclient";
    temp_dir work;
    fs::create_directories(work / "src");
    for (const auto &item : fs::directory_iterator(docs)) {
        std::string name = item.path().filename();
        if (name.starts_with("CONTRIBUTING")) continue;  // it includes a file that is not shipped
        std::string source = work / ("src/" + name.substr(0, name.find(".rst") + 4));
        if (name.ends_with(".rst")) {
            fs::copy_file(item.path(), source);
        } else if (name.ends_with(".rst.gz")) {
            int status = system(("gzip -dc '" + item.path().string() + "' > '" + source + "'").c_str());
            ASSERT_EQ(status, 0) << name;
        }
    }
    write_file(work / "src/conf.py", "project = 'lazr.restfulclient'\nmaster_doc = 'index'\n"
                                     "extensions = ['sphinxcontrib.htmlhelp']\nhtmlhelp_basename = 'restful'\n");
    process_result sphinx = run_process({python, "-m", "sphinx", "-q", "-b", "htmlhelp", "src", "out"}, work.path());
    ASSERT_EQ(sphinx.status, 0) << sphinx.output;

    std::string out = work / "out";
    process_result result = run_kelto({"restful.hhp"}, out);
    EXPECT_EQ(result.status, 0) << result.output;
    check_generated(out, out + "/restful.chm", out + "/restful.hhp", {"/#WINDOWS", "/$FIftiMain"}, work.path());
    size_t pages = 0;
    for (const auto &item : fs::directory_iterator(out)) pages += item.path().extension() == ".html";
    expect_viewer_sees(out + "/restful.chm",
                       {"title=lazr.restfulclient  documentation", "home=/index.html", "contents=/restful.hhc",
                        "index=/restful.hhk",
                        "contents_entries=" + std::to_string(sitemap_entries(out + "/restful.hhc")),
                        "index_entries=" + std::to_string(sitemap_entries(out + "/restful.hhk")), "lcid=0x409",
                        "home_stored=yes", "topics_resolved=" + std::to_string(pages) + "/" + std::to_string(pages),
                        "searchable=yes", "search_one_page=ok", "search_every_page=ok", "search_digits=ok"},
                       "cp1252", out + "/restful.stp");
}

TEST(generated_project, DoxygenRunsKeltoAsItsHelpCompiler) {
    // Doxygen calls HHC_LOCATION in its html directory and takes any status
    // but 1 for a failure, as the Windows compiler ends with 1 on success.
    temp_dir work;
    write_file(work / "demo.h", "/** \\file demo.h\n * A demo header. */\n/** Adds two numbers. */\n"
                                "int add(int a, int b);\n");
    write_file(work / "Doxyfile", "PROJECT_NAME = \"kelto demo\"\nINPUT = demo.h\nOUTPUT_DIRECTORY = out\n"
                                  "GENERATE_LATEX = NO\nHAVE_DOT = NO\nSEARCHENGINE = NO\nHTML_DYNAMIC_MENUS = NO\n"
                                  "GENERATE_HTMLHELP = YES\nCHM_FILE = demo.chm\n"
                                  "HHC_LOCATION = \"" KELTO_HHC "\"\nQUIET = YES\n");
    process_result doxygen = run_process({"/usr/bin/doxygen", "Doxyfile"}, work.path());
    EXPECT_EQ(doxygen.status, 0) << doxygen.output;
    EXPECT_EQ(doxygen.output.find("failed to run html help compiler"), std::string::npos) << doxygen.output;
    std::string html = work / "out/html";
    ASSERT_TRUE(path_exists(html + "/demo.chm")) << doxygen.output;
    check_generated(html, html + "/demo.chm", html + "/index.hhp", {"/#WINDOWS", "/$FIftiMain"}, work.path());
    expect_viewer_sees(html + "/demo.chm",
                       {"title=kelto demo", "home=/index.html", "contents=/index.hhc", "home_stored=yes",
                        "searchable=yes", "search_one_page=ok", "search_every_page=ok"},
                       "cp1252");
}

TEST(project_output, SameBytesForEveryThreadCountWithAFixedDate) {
    temp_dir work;
    std::string text;
    for (int i = 0; i < 400; i++) text += "<p>paragraph " + std::to_string(i * 7919 % 1000) + " of the manual</p>\n";
    for (int i = 0; i < 6; i++) write_file(work / ("p" + std::to_string(i) + ".html"), page("<title>P</title>", text));
    write_file(work / "r.hhp", "[OPTIONS]\nTitle=R\nFull-text search=Yes\n[FILES]\n"
                               "p0.html\np1.html\np2.html\np3.html\np4.html\np5.html\n");
    setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    std::string first;
    for (const char *threads : {"1", "2", "1"}) {
        setenv("LZXCOMP_THREADS", threads, 1);
        process_result result = run_kelto({"r.hhp"}, work.path());
        EXPECT_EQ(result.status, 0) << result.output;
        std::string bytes = read_file(work / "r.chm");
        if (first.empty()) first = bytes;
        EXPECT_EQ(bytes, first) << threads << " threads";
    }
    unsetenv("LZXCOMP_THREADS");
    unsetenv("SOURCE_DATE_EPOCH");
}

TEST(project_output, BadProjectsWriteNothingAndKeepTheEarlierOutput) {
    temp_dir work;
    write_file(work / "bad.chm", "earlier output");
    for (const std::string &text : {std::string(), std::string("[OPTIONS]\nTitle=x\0y\n", 18),
                                    std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\xFF\xFE", 18)}) {
        write_file(work / "bad.hhp", text);
        process_result result = run_kelto({"bad.hhp"}, work.path());
        EXPECT_EQ(result.status, 255) << result.output;
        EXPECT_NE(result.output.find("ERROR: "), std::string::npos) << result.output;
        EXPECT_NE(result.output.find("bad.hhp"), std::string::npos) << result.output;
        EXPECT_EQ(read_file(work / "bad.chm"), "earlier output");
    }
    size_t files = 0;
    for ([[maybe_unused]] const auto &item : fs::directory_iterator(work.path())) files++;
    EXPECT_EQ(files, 2u);
}
