#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "catalogue/walk_dir.h"
#include "catalogue_test_support.h"
#include "run/settings.h"

namespace {
std::string current_dir(void) {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? buffer : "";
}

void make_dir(const std::string &path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path; }

// The a, b, s/c tree of the examples.
void make_small_tree(const temp_dir &root) {
    write_file(root / "a", "A");
    write_file(root / "b", "BB");
    write_file(root / "s/c", "CCC");
}

std::vector<std::string> sorted_names(void) {
    std::vector<std::string> names = table_names();
    std::sort(names.begin(), names.end());
    return names;
}

int walk_captured(const std::string &path, std::string *output) {
    stdout_capture capture;
    int count = walk_dir(path.c_str());
    *output = capture.finish();
    return count;
}
}  // namespace

TEST_F(catalogue, WalkCataloguesFilesAndDirectoriesWithCounts) {
    temp_dir root;
    make_small_tree(root);
    start_prefix();
    std::string output;
    EXPECT_EQ(walk_captured(root.path(), &output), 3);
    EXPECT_EQ(output, "");
    std::vector<std::string> expected = {"/a", "/b", "/s/", "/s/c"};
    EXPECT_EQ(sorted_names(), expected);
    // A directory's own entry comes right before what the walk found in it.
    std::vector<std::string> names = table_names();
    auto dir = std::find(names.begin(), names.end(), "/s/");
    ASSERT_NE(dir, names.end());
    EXPECT_EQ(*(dir + 1), "/s/c");
    EXPECT_EQ(find_entry("/s/")->section, 0u);
    EXPECT_EQ(find_entry("/s/c")->section, 1u);
    EXPECT_EQ(run.input_size, 6u);
    EXPECT_STREQ(run.name_prefix.buffer, "/");
    EXPECT_EQ(run.name_prefix.length, 1u);

    // The nested walk on its own counts its one file.
    reset_run_for_test();
    start_prefix();
    EXPECT_EQ(walk_captured(root / "s", &output), 1);
}

TEST_F(catalogue, WalkOfEmptyOrMissingDirectory) {
    temp_dir root;
    start_prefix();
    std::string output;
    EXPECT_EQ(walk_captured(root.path(), &output), 0);
    EXPECT_EQ(walk_captured(root / "missing", &output), -1);
    EXPECT_EQ(walk_captured("", &output), -1);
    write_file(root / "file", "x");
    EXPECT_EQ(walk_captured(root / "file", &output), -1);
    EXPECT_EQ(output, "");
    EXPECT_EQ(run.entry_table.count, 0u);
}

TEST_F(catalogue, WithoutDirectoryEntriesSubdirectoriesStillCount) {
    temp_dir root;
    make_small_tree(root);
    settings.add_directories = 0;
    start_prefix();
    std::string output;
    EXPECT_EQ(walk_captured(root.path(), &output), 3);
    std::vector<std::string> expected = {"/a", "/b", "/s/c"};
    EXPECT_EQ(sorted_names(), expected);
}

TEST_F(catalogue, PrefixGrowsInStepsOfTenBytes) {
    temp_dir root;
    write_file(root / "seven77/f", "");
    write_file(root / "x/f", "");
    start_prefix();
    std::string output;
    walk_captured(root.path(), &output);
    // "/seven77/" is 9 bytes: ((9 + 1) / 10) * 10 + 10 = 20. "/x/" alone
    // would need 10, but the buffer never shrinks.
    EXPECT_EQ(run.name_prefix.capacity, 20u);

    reset_run_for_test();
    temp_dir small;
    write_file(small / "x/f", "");
    start_prefix();
    walk_captured(small.path(), &output);
    EXPECT_EQ(run.name_prefix.capacity, 10u);
    EXPECT_EQ(run.name_prefix.length, 1u);
}

TEST_F(catalogue, NamesUpTo255BytesAreKept) {
    temp_dir root;
    // File: "/" + 254 bytes = 255 kept; "/" + 255 bytes refused.
    std::string file_ok(254, 'f'), file_long(255, 'g');
    write_file(root / file_ok, "");
    write_file(root / file_long, "");
    // Directory: "/d/" + 251 + "/" = 255 walked; one byte more is refused
    // with everything below it.
    make_dir(root / "d");
    std::string dir_ok(251, 'o'), dir_long(252, 'l');
    write_file(root / ("d/" + dir_ok + "/x"), "");
    write_file(root / ("d/" + dir_long + "/y"), "");
    // Below the 255-byte directory every file name is too long.
    start_prefix();
    std::string output;
    int count = walk_captured(root.path(), &output);
    EXPECT_EQ(count, 2);  // file_ok and d

    EXPECT_NE(find_entry("/" + file_ok), nullptr);
    EXPECT_EQ(find_entry("/" + file_long), nullptr);
    EXPECT_NE(find_entry("/d/" + dir_ok + "/"), nullptr);
    EXPECT_EQ(find_entry("/d/" + dir_ok + "/x"), nullptr);
    EXPECT_EQ(find_entry("/d/" + dir_long + "/"), nullptr);
    EXPECT_EQ(run.entry_table.count, 3u);
    for (uint64_t i = 0; i < run.entry_table.count; i++)
        EXPECT_EQ(run.entry_table.entries[i]->name_len, strlen(run.entry_table.entries[i]->name));

    EXPECT_NE(output.find("WARNING: The ITSF format does not support files with internal names longer than 255 "
                          "characters (ignoring " +
                          file_long + "/)\n"),
              std::string::npos);
    EXPECT_NE(output.find("WARNING: The ITSF format does not support files with internal names longer than 255 "
                          "characters (ignoring d/" +
                          dir_ok + "/x/)\n"),
              std::string::npos);
    EXPECT_NE(output.find("WARNING: The ITSF format does not support dirs with internal names longer than 255 "
                          "characters (ignoring d/" +
                          dir_long + "/)\n"),
              std::string::npos);
}

TEST_F(catalogue, SymbolicLinksAreFollowedAndDanglingOnesWarned) {
    temp_dir root;
    write_file(root / "real/page", "p");
    write_file(root / "file", "f");
    ASSERT_EQ(symlink("real", (root / "linked").c_str()), 0);
    ASSERT_EQ(symlink("file", (root / "alias").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (root / "real/dangling").c_str()), 0);
    start_prefix();
    std::string output;
    EXPECT_EQ(walk_captured(root.path(), &output), 4);
    std::vector<std::string> expected = {"/alias", "/file", "/linked/", "/linked/page", "/real/", "/real/page"};
    EXPECT_EQ(sorted_names(), expected);
    // Both links to real/dangling fail alike; no hard-link warning for a
    // directory seen again through a symbolic link.
    EXPECT_NE(output.find("WARNING: Could not stat real/dangling (ignoring)\n"), std::string::npos);
    EXPECT_NE(output.find("WARNING: Could not stat linked/dangling (ignoring)\n"), std::string::npos);
    EXPECT_EQ(output.find("Hard linked"), std::string::npos);
}

TEST_F(catalogue, LinkLoopEndsAtTheNameLimit) {
    temp_dir root;
    write_file(root / "s/f", "");
    ASSERT_EQ(symlink("..", (root / "s/up").c_str()), 0);
    start_prefix();
    std::string output;
    walk_captured(root.path(), &output);
    // /s/ then /s/up/s/ ... every turn adds "up/s/" (5 bytes).
    size_t longest = 0;
    for (const std::string &name : table_names()) {
        EXPECT_LE(name.size(), 255u);
        longest = std::max(longest, name.size());
    }
    EXPECT_GT(longest, 245u);
    EXPECT_NE(find_entry("/s/up/s/up/s/f"), nullptr);
    EXPECT_NE(output.find("WARNING: The ITSF format does not support dirs with internal names longer than 255"),
              std::string::npos);
    EXPECT_EQ(output.find("Hard linked"), std::string::npos);
    EXPECT_STREQ(run.name_prefix.buffer, "/");
}

TEST_F(catalogue, SecondLoopOnADescentIsNotEntered) {
    // Two links to "." would double the names at every level: 2^127 of
    // them. One loop is followed round; the other is refused on its path.
    temp_dir root;
    write_file(root / "d/f", "");
    ASSERT_EQ(symlink(".", (root / "d/x").c_str()), 0);
    ASSERT_EQ(symlink(".", (root / "d/y").c_str()), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(10);
        fclose(stdout);
        start_prefix();
        walk_dir((root / "d").c_str());
        _exit(run.entry_table.count < 1000 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the walk did not finish";
    ASSERT_EQ(WEXITSTATUS(status), 0);

    start_prefix();
    std::string output;
    walk_captured(root / "d", &output);
    std::string xs = "/", ys = "/";
    for (int level = 0; level < 127; level++) {
        xs += "x/";
        ys += "y/";
        EXPECT_NE(find_entry(xs), nullptr) << xs;
        EXPECT_NE(find_entry(ys), nullptr) << ys;
        if (level < 126) {
            EXPECT_NE(find_entry(xs + "f"), nullptr) << xs;
        }
    }
    EXPECT_EQ(find_entry("/x/y/"), nullptr);
    EXPECT_EQ(find_entry("/y/x/x/"), nullptr);
    // 127 levels of x/ and of y/, and an f in all but the deepest two.
    EXPECT_EQ(run.entry_table.count, 2u * 127u + 1u + 2u * 126u);
    EXPECT_NE(output.find("WARNING: Directory x/y/ leads back to a directory above it (ignoring)\n"),
              std::string::npos);
    EXPECT_STREQ(run.name_prefix.buffer, "/");
}

TEST_F(catalogue, LoopThroughTwoDirectoriesGoesRoundToTheLimit) {
    temp_dir root;
    write_file(root / "t/a/fa", "");
    write_file(root / "t/b/fb", "");
    ASSERT_EQ(symlink("../b", (root / "t/a/tob").c_str()), 0);
    ASSERT_EQ(symlink("../a", (root / "t/b/toa").c_str()), 0);
    start_prefix();
    std::string output;
    walk_captured(root / "t", &output);
    // a -> b -> a -> ... is one loop, followed as far as names allow.
    EXPECT_NE(find_entry("/a/tob/toa/tob/toa/fa"), nullptr);
    EXPECT_NE(find_entry("/b/toa/tob/toa/tob/fb"), nullptr);
    EXPECT_EQ(output.find("leads back"), std::string::npos);
    EXPECT_NE(output.find("WARNING: The ITSF format does not support dirs with internal names longer than 255"),
              std::string::npos);
}

TEST_F(catalogue, HardLinkedFilesAreWarnedAndKept) {
    temp_dir root;
    write_file(root / "one", "shared");
    make_dir(root / "sub");
    ASSERT_EQ(link((root / "one").c_str(), (root / "sub/two").c_str()), 0);
    start_prefix();
    std::string output;
    walk_captured(root.path(), &output);
    EXPECT_NE(find_entry("/one"), nullptr);
    EXPECT_NE(find_entry("/sub/two"), nullptr);
    std::string warning =
        "WARNING: The ITSF format does not specifically support hard linked files, but they can be faked, kind "
        "of, and it depends on the decompressor. Not in this version though. Files hard linked to ";
    EXPECT_NE(output.find(warning + "one will be duplicated instead.\n"), std::string::npos);
    EXPECT_NE(output.find(warning + "sub/two will be duplicated instead.\n"), std::string::npos);
    EXPECT_EQ(run.input_size, 12u);
}

TEST_F(catalogue, PipesAndSocketsAreLeftOutWithoutBlocking) {
    temp_dir root;
    write_file(root / "page", "x");
    ASSERT_EQ(mkfifo((root / "fifo").c_str(), 0644), 0);
    // In a child with a time limit: a walk that opened the pipe would hang.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(10);
        start_prefix();
        int count = walk_dir(root.path().c_str());
        fflush(stdout);
        _exit(count == 1 && run.entry_table.count == 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the walk did not finish";
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // A socket, and a device reached through a link.
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socket_path = root / "sock";
    ASSERT_LT(socket_path.size(), sizeof address.sun_path);
    strcpy(address.sun_path, socket_path.c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(symlink("/dev/null", (root / "null").c_str()), 0);

    start_prefix();
    std::string output;
    EXPECT_EQ(walk_captured(root.path(), &output), 1);
    close(sock);
    EXPECT_NE(output.find("WARNING: Not a regular file or directory: fifo (ignoring)\n"), std::string::npos);
    EXPECT_NE(output.find("WARNING: Not a regular file or directory: sock (ignoring)\n"), std::string::npos);
    EXPECT_NE(output.find("WARNING: Not a regular file or directory: null (ignoring)\n"), std::string::npos);
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 3);
    EXPECT_EQ(table_names(), std::vector<std::string>{"/page"});
}

TEST_F(catalogue, WorkingDirectoryIsUntouchedWhateverThePathForm) {
    temp_dir root;
    write_file(root / "in/deep/tree/a", "");
    write_file(root / "in/deep/tree/s/b", "");
    ASSERT_EQ(symlink("deep/tree/s", (root / "in/link").c_str()), 0);
    ASSERT_EQ(symlink("in/deep", (root / "via").c_str()), 0);
    std::string start = current_dir();
    ASSERT_EQ(chdir((root / "in").c_str()), 0);
    struct {
        std::string path;
        std::vector<std::string> names;
    } cases[] = {
        {"deep", {"/tree/", "/tree/a", "/tree/s/", "/tree/s/b"}},
        {"deep/tree", {"/a", "/s/", "/s/b"}},
        {"deep/tree/", {"/a", "/s/", "/s/b"}},
        {"deep//tree//", {"/a", "/s/", "/s/b"}},
        {root / "in/deep/tree", {"/a", "/s/", "/s/b"}},
        {"../via/tree", {"/a", "/s/", "/s/b"}},
        {"link", {"/b"}},
        {".", {"/deep/", "/deep/tree/", "/deep/tree/a", "/deep/tree/s/", "/deep/tree/s/b", "/link/", "/link/b"}},
    };
    std::string inside = current_dir();
    for (const auto &c : cases) {
        reset_run_for_test();
        start_prefix();
        std::string output;
        EXPECT_GE(walk_captured(c.path, &output), 1) << c.path;
        EXPECT_EQ(sorted_names(), c.names) << c.path;
        EXPECT_EQ(current_dir(), inside) << c.path;
    }
    ASSERT_EQ(chdir(start.c_str()), 0);
}

namespace {
// Walks a tree with a directory that cannot be opened and one that can be
// read but not searched; returns what went wrong, empty when nothing did.
std::string check_permission_cases(void) {
    temp_dir root;
    if (root.path().empty()) return "no temporary directory";
    write_file(root / "closed/x", "");
    write_file(root / "blind/y", "");
    write_file(root / "z", "");
    if (chmod((root / "closed").c_str(), 0300) != 0 || chmod((root / "blind").c_str(), 0600) != 0) return "chmod";
    start_prefix();
    std::string output;
    // z counts and blind is opened; closed cannot be opened.
    int count = walk_captured(root.path(), &output);
    std::string problems;
    if (count != 2) problems += "count " + std::to_string(count) + "\n";
    if (output.find("WARNING: Could not open directory closed/ (ignoring)\n") == std::string::npos ||
        output.find("WARNING: Could not stat blind/y (ignoring)\n") == std::string::npos)
        problems += "output: " + output;
    std::vector<std::string> expected = {"/blind/", "/closed/", "/z"};
    if (sorted_names() != expected) problems += "names differ\n";
    if (strcmp(run.name_prefix.buffer, "/") != 0) problems += "prefix not restored\n";
    return problems;
}
}  // namespace

TEST_F(catalogue, UnreadableAndUnsearchableDirectories) {
    expect_as_unprivileged_user(check_permission_cases);
}
