#include <functional>

#include "project/sitemap.h"
#include "project_test_support.h"

namespace {
std::string item(const std::string &params) { return "<LI> <OBJECT type=\"text/sitemap\">" + params + "</OBJECT>\n"; }
std::string local(const std::string &value) { return "<param name=\"Local\" value=\"" + value + "\">"; }

const std::string head =
    "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\n<HTML><HEAD><!-- Sitemap 1.0 --></HEAD><BODY>\n";

struct sitemap_case {
    const char *name;
    std::string text;
    std::vector<std::string> targets;  // resolved paths of the local ones
    std::vector<std::string> messages;
    std::function<void(const sitemap_contents &)> check = nullptr;
    uint32_t code_page = 1252;
};

std::string nested(size_t depth) {
    std::string text = head;
    for (size_t i = 0; i < depth; i++) text += "<UL>" + item(local("a.htm"));
    return text;
}

const std::vector<sitemap_case> cases = {
    {"contents with properties",
     head +
         "<OBJECT type=\"text/site properties\">\n<param name=\"ImageType\" value=\"Folder\">\n"
         "<param name=\"Window Styles\" value=\"0x801227\"><param name=\"FrameName\" value=\"right\">"
         "<param name=\"Font\" value=\"Arial,8,0\"></OBJECT>\n<UL>" +
         item("<param name=\"Name\" value=\"A\">" + local("a.htm#top")) + "<UL>" + item(local("sub%20dir/b.htm?q=1")) +
         item("<param name=\"Name\" value=\"web\"><param name=\"URL\" value=\"http://example.org/\">") +
         item("<param name=\"Merge\" value=\"other.chm::/other.hhc\">") + item(local("ms-its:other.chm::/x.htm")) +
         "</UL></UL></BODY></HTML>\n",
     {"a.htm", "sub dir/b.htm"},
     {},
     [](const sitemap_contents &c) {
         EXPECT_TRUE(c.properties.folder_images);
         EXPECT_EQ(c.properties.window_styles, "0x801227");
         EXPECT_EQ(c.properties.frame_name, "right");
         EXPECT_EQ(c.properties.font, "Arial,8,0");
         EXPECT_EQ(c.items, 5u);
         EXPECT_EQ(c.targets[0].line, 6u);
     }},
    {"values that viewers find nowhere",
     head + "<UL>" + item(local("../up.htm")) + item(local("/top.htm")) + item(local("a/../b.htm")) + "</UL>",
     {"top.htm", "b.htm"},
     {"toc.hhc:3: Local values with \"..\" or a leading \"/\": viewers look them up from the top of the compiled file "
      "and find nothing: ../up.htm, /top.htm, a/../b.htm"}},
    {"params kchmviewer stops on",
     head + "<UL>" + item("<param name=Local value=a.htm>") + item("<param value=\"b.htm\">") + "</UL>",
     {"a.htm"},
     {"toc.hhc:3: A <param> without name=\"...\" and value=\"...\" in double quotes: kchmviewer stops on this file"}},
    {"single quotes too",
     head + "<UL>" + item("<param name='Local' value='a.htm'>") + "</UL>",
     {"a.htm"},
     {"toc.hhc:3: A <param> without name=\"...\""}},
    {"too deep for kchmviewer",
     nested(300),
     std::vector<std::string>(300, "a.htm"),
     {"toc.hhc:259: Lists nested deeper than 256 levels",
      "The file ends inside 300 unclosed lists (<ul>): is it cut short?"}},
    {"thousands of levels",
     nested(20000),
     std::vector<std::string>(20000, "a.htm"),
     {"Lists nested deeper than 256 levels", "The file ends inside"}},
    {"cut short",
     head + "<UL>" + item(local("a.htm")) + "<LI> <OBJECT type=\"text/sitemap\"><param name=\"Lo",
     {"a.htm"},
     {"toc.hhc:4: The file ends inside 1 unclosed list (<ul>)", "toc.hhc:4: A <param> without name"}},
    {"empty", "", {}, {"toc.hhc: The file is empty"}},
    {"no entries", head + "</BODY></HTML>", {}, {"toc.hhc: No entries (<object type=\"text/sitemap\">) in the file"}},
    {"binary",
     std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + "<ul>",
     {},
     {"toc.hhc:3: The file holds NUL bytes: it is not a sitemap", "The file ends inside 1 unclosed list"}},
    {"unbalanced tags and a line of megabytes",
     head + "</UL></OBJECT><UL>" +
         item(local("a.htm") + "<param name=\"Name\" value=\"" + std::string(2 << 20, 'n') + "\">") +
         "</LI></LI></UL></UL></UL>",
     {"a.htm"},
     {}},
    {"UTF-8 properties into the code page",
     head +
         "<OBJECT type=\"text/site properties\"><param name=\"FrameName\" "
         "value=\"r\xC3\xA9\xE6\x97\xA5\"></OBJECT><UL>" +
         item(local("caf\xC3\xA9.htm")) + "</UL>",
     {"caf\xC3\xA9.htm"},
     {"toc.hhc: Characters that code page 1252 lacks are shown as \"?\""},
     [](const sitemap_contents &c) { EXPECT_EQ(c.properties.frame_name, "r\xE9?"); }},
    {"code page sitemap kept as written",
     head +
         "<OBJECT type=\"text/site properties\"><param name=\"FrameName\" "
         "value=\"\xEF\xF0\xE0\xE2\xEE\"></OBJECT><UL>" +
         item(local("\xEF.htm")) + "</UL>",
     {"\xEF.htm"},
     {},
     [](const sitemap_contents &c) { EXPECT_EQ(c.properties.frame_name, "\xEF\xF0\xE0\xE2\xEE"); },
     1251},
};
}  // namespace

TEST(sitemap, ReadsEachCase) {
    for (const sitemap_case &row : cases) {
        SCOPED_TRACE(row.name);
        sitemap_contents contents;
        stdout_capture capture;
        read_sitemap_text(row.text, "toc.hhc", row.code_page, contents);
        std::string output = capture.finish();
        std::vector<std::string> targets;
        for (const sitemap_target &target : contents.targets) {
            if (target.target.kind == reference_kind::local) targets.push_back(target.target.path);
        }
        EXPECT_EQ(targets, row.targets);
        expect_messages(output, row.messages);
        if (row.check) row.check(contents);
    }
}
