#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "project_test_support.h"

namespace {
using file_list = std::vector<std::pair<std::string, std::string>>;

struct collect_case {
    const char *name;
    file_list files;                  // "help.hhp" among them
    std::vector<std::string> stored;  // sorted
    std::vector<std::string> messages;
    uint64_t missing = 0;
    std::function<void(const project_contents &)> check = nullptr;
    std::function<void(const std::string &)> prepare = nullptr;  // given the project's directory
};

std::string page(const std::string &body, const std::string &head = "") {
    return "<html><head>" + head + "</head><body>" + body + "</body></html>\n";
}

const std::string options = "[OPTIONS]\nDefault topic=a.htm\n";

std::vector<std::string> topic_lines(const project_contents &contents) {
    std::vector<std::string> lines;
    for (const topic &t : contents.topics) lines.push_back(t.path + "|" + t.title + (t.in_contents ? "|toc" : ""));
    return lines;
}

const std::vector<collect_case> cases = {
    {"references followed transitively, loops end",
     {{"help.hhp", options + "Contents file=toc.hhc\nIndex file=idx.hhk\n[FILES]\na.htm\n"},
      {"toc.hhc", "<ul><li><object type=\"text/sitemap\"><param name=\"Local\" value=\"sub/b.htm#x\"></object></ul>"},
      {"idx.hhk", "<ul><li><object type=\"text/sitemap\"><param name=\"Local\" value=\"c.htm\"></object></ul>"},
      {"a.htm",
       page("<a href=\"sub/b.htm\">b</a><img src='img/p.png' srcset='img/p2.png 2x, img/p3.png 3x'>"
            "<a href=\"http://x.org/y.htm\">x</a><a href=\"#top\">t</a><a href='mailto:a@b'>m</a>"
            "<object data=\"movie.swf\"></object><a href=\"//host/z.htm\">z</a>",
            "<title>A</title><link rel=stylesheet href=\"css/s.css\"><style>body{background:url(bg.png)}</style>")},
      {"sub/b.htm",
       page("<a href=\"../a.htm\">a</a><a href=\"b%20two.htm?q#f\">b2</a><iframe src=\"frame.htm\"></iframe>"
            "<p style=\"background: url('../img/st.png')\">",
            "<title>B</title>")},
      {"sub/b two.htm", "<html><body background=\"../img/back.gif\"><a href=\"/c.htm\">c</a>"},
      {"sub/frame.htm",
       page("<script src=\"../js/s.js\"></script><meta http-equiv=\"refresh\" content=\"0; URL='../r.htm'\">")},
      {"c.htm", page("")},
      {"r.htm", page("")},
      {"img/p.png", "P"},
      {"img/p2.png", "P"},
      {"img/p3.png", "P"},
      {"img/st.png", "P"},
      {"img/back.gif", "G"},
      {"bg.png", "B"},
      {"movie.swf", "S"},
      {"js/s.js", "J"},
      {"css/s.css",
       "@import \"more.css\";\n/* url(no.png) */ a { background: url( \"../img/c1.png\" ) }\n"
       "@import url(more.css);b{x:url(data:image/png;base64,AAAA)}"},
      {"css/more.css", "i { content: 'url(no2.png)'; background: url(c2.png) }"},
      {"img/c1.png", "1"},
      {"css/c2.png", "2"},
      {"unreferenced.htm", page("")}},
     {"a.htm",        "bg.png",     "c.htm",         "css/c2.png", "css/more.css",  "css/s.css",  "idx.hhk",
      "img/back.gif", "img/c1.png", "img/p.png",     "img/p2.png", "img/p3.png",    "img/st.png", "js/s.js",
      "movie.swf",    "r.htm",      "sub/b two.htm", "sub/b.htm",  "sub/frame.htm", "toc.hhc"},
     {},
     0,
     [](const project_contents &c) {
         EXPECT_EQ(topic_lines(c), (std::vector<std::string>{"a.htm|A", "c.htm|", "r.htm|", "sub/b two.htm|",
                                                             "sub/b.htm|B|toc", "sub/frame.htm|"}));
         auto png =
             std::find_if(c.files.begin(), c.files.end(), [](const stored_file &f) { return f.path == "img/p.png"; });
         EXPECT_EQ(png->size, 1u);
         EXPECT_FALSE(png->is_html);
     }},
    {"what the project names and cannot be read",
     {{"help.hhp", options + "Contents file=toc.hhc\n[FILES]\na.htm\nmissing.htm\n..\\outside.htm\n/etc/hostname\n"
                             "[TEXT POPUPS]\npopups.txt\n[ALIAS]\nIDH_A=gone.htm\n[MAP]\n#define IDH_A 1\n"},
      {"a.htm", page("<a href=\"nothere.htm#a\">1</a><a href=\"nothere.htm#b\">2</a><img src=\"../up.png\">")}},
     {"a.htm"},
     {"help.hhp:6: Cannot read missing.htm (listed in [FILES]): No such file or directory",
      "help.hhp:7: ../outside.htm (listed in [FILES]) lies outside the project directory",
      "help.hhp:8: /etc/hostname (listed in [FILES]) lies outside",
      "help.hhp:10: Cannot read popups.txt (listed in [TEXT POPUPS])",
      "help.hhp:3: Cannot read toc.hhc (the Contents file)", "help.hhp: Links to files that do not exist: gone.htm",
      "a.htm:1: Links to files that do not exist: nothere.htm",
      "a.htm:1: Refers to files outside the project directory (not stored): ../up.png"},
     5},
    {"symbolic links out of the project and inside it",
     {{"help.hhp", options + "[FILES]\na.htm\n"},
      {"a.htm", page("<img src=\"out.png\"><img src=\"in.png\"><img src=\"d/x.png\">")},
      {"real.png", "R"}},
     {"a.htm", "in.png"},
     {"a.htm:1: Refers to files outside the project directory (not stored): out.png, d/x.png"},
     0,
     nullptr,
     [](const std::string &root) {
         write_file(root + "/../outside-of-project.png", "O");
         write_file(root + "/../x.png", "X");
         ASSERT_EQ(symlink("../outside-of-project.png", (root + "/out.png").c_str()), 0);
         ASSERT_EQ(symlink("real.png", (root + "/in.png").c_str()), 0);
         ASSERT_EQ(symlink("..", (root + "/d").c_str()), 0);
     }},
    {"a name that differs only in case",
     {{"help.hhp", options + "[FILES]\nA.HTM\n"},
      {"a.htm", page("<img src=\"Images/Logo.GIF\"><img src=\"images/logo.gif\">")},
      {"images/logo.gif", "G"}},
     {"a.htm", "images/logo.gif"},
     {"help.hhp:4: A.HTM (listed in [FILES]) is a.htm in another case",
      "a.htm:1: Images/Logo.GIF names images/logo.gif in another case"}},
    {"the earlier output, its temporaries, the project and its headers are not stored",
     {{"help.hhp", options + "Compiled file=out\\help.chm\n[FILES]\na.htm\nhelp.hhp\nids.h\nout\\.help.chm.a1B2c3\n"
                             "[MAP]\n#include ids.h\n"},
      {"a.htm", page("<a href=\"out/help.chm\">chm</a>")},
      {"ids.h", "#define X 1\n"},
      {"out/help.chm", "ITSF"},
      {"out/.help.chm.a1B2c3", "ITSF"}},
     {"a.htm"},
     {"The input holds the output file as /out/help.chm (ignoring)", "ids.h:1: [MAP] names without a file in [ALIAS]"}},
    {"titles into the code page",
     {{"help.hhp", options + "Language=0x419\n[FILES]\na.htm\nb.htm\nc.htm\nd.htm\ne.htm\n"},
      {"a.htm", page("", "<title>\n  \xD0\x9F\xD1\x80\xD0\xB8   &amp;\tx </title>")},
      {"b.htm", page("", "<meta charset=\"windows-1252\"><title>caf\xE9 \x80</title>")},
      {"c.htm",
       page("\xFF",
            "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-5\"><title>\xBF\xE0\xD8</title>")},
      {"d.htm", page("\xEF", "<title>\xEF\xF0\xE8 &mdash;</title>")},
      {"e.htm", page("", "<title>\xE6\x97\xA5</title>")}},
     {"a.htm", "b.htm", "c.htm", "d.htm", "e.htm"},
     {"b.htm:1: The title has characters that code page 1251 lacks",
      "e.htm:1: The title has characters that code page 1251 lacks"},
     0,
     [](const project_contents &c) {
         EXPECT_EQ(topic_lines(c),
                   (std::vector<std::string>{"a.htm|\xCF\xF0\xE8 & x", "b.htm|caf? \x88", "c.htm|\xCF\xF0\xE8",
                                             "d.htm|\xEF\xF0\xE8 \x97", "e.htm|?"}));
     }},
    {"names too long for the container",
     {{"help.hhp", options + "[FILES]\na.htm\n"},
      {"a.htm", page("<img src=\"d/" + std::string(250, 'n') + ".png\">")},
      {"d/" + std::string(250, 'n') + ".png", "N"}},
     {"a.htm"},
     {"WARNING: The ITSF format does not support files with internal names longer than 255 characters (ignoring "
      "/d/nnn"}},
};
}  // namespace

TEST(collect, FindsTheFilesOfEachProject) {
    for (const collect_case &row : cases) {
        SCOPED_TRACE(row.name);
        // The project lies one level down, so that "../" leads somewhere that exists.
        temp_dir top;
        std::string root = top / "project";
        for (const auto &[name, bytes] : row.files) write_file(root + "/" + name, bytes);
        if (row.prepare) row.prepare(root);
        help_project project;
        compile_report report;
        stdout_capture capture;
        outcome read = read_project_file(root + "/help.hhp", project, report);
        ASSERT_TRUE(read.ok) << read.message;
        file_identity output;
        struct stat status;
        if (stat(project.compiled_file.c_str(), &status) == 0) output = {true, status.st_dev, status.st_ino};
        project_contents contents;
        outcome collected = collect_files(project, output, report, contents);
        std::string printed = capture.finish();
        ASSERT_TRUE(collected.ok) << collected.message;
        std::vector<std::string> stored;
        for (const stored_file &file : contents.files) stored.push_back(file.path);
        std::sort(stored.begin(), stored.end());
        EXPECT_EQ(stored, row.stored);
        EXPECT_EQ(report.missing, row.missing);
        expect_messages(printed, row.messages);
        if (row.check) row.check(contents);
    }
}
