// feed_input and input_exhausted driven directly, as the compressor would.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "catalogue/builtin_entries.h"
#include "compress/compress_callbacks.h"
#include "compress_fixture.h"
#include "run/run_state.h"

class input_feed : public compress_test {
  protected:
    void open_tree(void) { open_input_dir(tree.path().c_str()); }
};

TEST_F(input_feed, FilesFollowEachOtherInTableOrderAcrossRequests) {
    add_dir("/");
    its_entry *a = make_file("a.txt", "alpha");
    add_dir("/sub/");
    its_entry *b = make_file("sub/b", pattern_bytes(1000, 1));
    its_entry *c = make_file("sub/c", "0123456789");
    add_builtins();
    open_tree();

    stdout_capture capture;
    std::string stream = drain({7, 1, 300, 13});
    std::string printed = capture.finish();

    EXPECT_EQ(stream, "alpha" + pattern_bytes(1000, 1) + "0123456789");
    EXPECT_EQ(a->offset, 0u);
    EXPECT_EQ(a->length, 5u);
    EXPECT_EQ(b->offset, 5u);
    EXPECT_EQ(b->length, 1000u);
    EXPECT_EQ(c->offset, 1005u);
    EXPECT_EQ(c->length, 10u);
    EXPECT_EQ(c->section, 1u);
    EXPECT_EQ(printed, "Reading a.txt ... done\nReading sub/b ... done\nReading sub/c ... done\n");
    EXPECT_EQ(run.total_bytes, 1015u);
    EXPECT_EQ(run.current_index, run.entry_table.count);
    EXPECT_EQ(run.input_file, nullptr);
    EXPECT_EQ(input_exhausted(nullptr), 1);
    // Directory and built-in entries are passed over untouched.
    EXPECT_EQ(reset_table_entry.offset, 134u);
    EXPECT_EQ(namelist_entry.length, 60u);
}

TEST_F(input_feed, OddRequestSizesGiveTheSameStream) {
    std::string expected;
    for (int i = 0; i < 6; i++) {
        std::string bytes = pattern_bytes(static_cast<size_t>(i * 777 + (i % 2)), static_cast<uint32_t>(i));
        make_file("f" + std::to_string(i), bytes);
        expected += bytes;
    }
    add_builtins();
    open_tree();

    for (int size : {1, 2, 3, 777, 778, 4096, 32768, 100000}) {
        SCOPED_TRACE(size);
        for (uint64_t i = 0; i < run.entry_table.count; i++) {
            if (!run.entry_table.entries[i]->is_static) run.entry_table.entries[i]->section = 1;
        }
        run.current_index = 0;
        run.total_bytes = 0;
        stdout_capture capture;
        std::string stream = drain({size});
        capture.finish();
        // drain() stops at the first short answer, so equality also shows
        // that every earlier request was filled.
        EXPECT_EQ(stream, expected);
    }
}

TEST_F(input_feed, EmptyFileTakesNoRoomAndEndsInSectionZero) {
    make_file("a", "xyz");
    its_entry *empty = make_file("b", "");
    its_entry *c = make_file("c", "12");
    add_builtins();
    open_tree();

    stdout_capture capture;
    EXPECT_EQ(drain({64}), "xyz12");
    EXPECT_EQ(capture.finish(), "Reading a ... done\nReading b ... done\nReading c ... done\n");
    EXPECT_EQ(empty->section, 0u);
    EXPECT_EQ(empty->offset, 0u);
    EXPECT_EQ(empty->length, 0u);
    EXPECT_EQ(c->offset, 3u);
}

TEST_F(input_feed, UnopenableFileIsReportedAndTakesNoRoom) {
    make_file("a", "xyz");
    its_entry *missing = add_file("/gone");
    write_file(tree / "target", "t");
    ASSERT_EQ(symlink("target-removed", (tree / "dangling").c_str()), 0);
    its_entry *dangling = add_file("/dangling");
    its_entry *c = make_file("c", "12");
    add_builtins();
    open_tree();

    stdout_capture capture;
    EXPECT_EQ(drain({5}), "xyz12");
    EXPECT_EQ(capture.finish(),
              "Reading a ... done\nERROR: Failed opening gone\nERROR: Failed opening dangling\nReading c ... done\n");
    for (its_entry *entry : {missing, dangling}) {
        EXPECT_EQ(entry->section, 0u);
        EXPECT_EQ(entry->offset, 0u);
        EXPECT_EQ(entry->length, 0u);
    }
    EXPECT_EQ(c->offset, 3u);
}

TEST_F(input_feed, PathThroughMoreLinksThanOneLookupFollows) {
    // The walk goes round a link to "." one level at a time, up to the name
    // limit; one lookup of the whole path would stop at 40 links.
    write_file(tree / "f", "looped");
    ASSERT_EQ(symlink(".", (tree / "l").c_str()), 0);
    std::string deep;
    for (int level = 0; level < 60; level++) deep += "l/";
    its_entry *found = add_file("/" + deep + "f");
    its_entry *missing = add_file("/" + deep + "gone");
    add_builtins();
    open_tree();

    stdout_capture capture;
    EXPECT_EQ(drain({64}), "looped");
    EXPECT_EQ(capture.finish(), "Reading " + deep + "f ... done\nERROR: Failed opening " + deep + "gone\n");
    EXPECT_EQ(found->length, 6u);
    EXPECT_EQ(missing->section, 0u);
}

TEST_F(input_feed, FlattenedNameFromAPathLongerThanOneLookupTakes) {
    // The walk enters one directory at a time, so its paths have no limit.
    std::string level(250, 'd'), source;
    int dir = open(tree.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dir, 0);
    while (source.size() <= PATH_MAX) {
        ASSERT_EQ(mkdirat(dir, level.c_str(), 0755), 0);
        int next = openat(dir, level.c_str(), O_RDONLY | O_DIRECTORY);
        close(dir);
        ASSERT_GE(next, 0);
        dir = next;
        source += level + "/";
    }
    int fd = openat(dir, "deep.htm", O_WRONLY | O_CREAT, 0644);
    close(dir);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "far down", 8), 8);
    close(fd);
    its_entry *deep = add_file("/deep.htm", source + "deep.htm");
    add_builtins();
    open_tree();

    stdout_capture capture;
    EXPECT_EQ(drain({64}), "far down");
    EXPECT_EQ(capture.finish(), "Reading deep.htm ... done\n");
    EXPECT_EQ(deep->length, 8u);
}

TEST_F(input_feed, UnreadableFileIsReportedAndNamesNothing) {
    make_file("a", "xyz");
    // Opening a directory works; reading it fails.
    ASSERT_EQ(mkdir((tree / "d").c_str(), 0755), 0);
    its_entry *unreadable = add_file("/d");
    its_entry *c = make_file("c", "12");
    add_builtins();
    open_tree();

    stdout_capture capture;
    EXPECT_EQ(drain({4}), "xyz12");
    EXPECT_EQ(capture.finish(), "Reading a ... done\nReading d ... ERROR: Failed reading d\nReading c ... done\n");
    EXPECT_EQ(unreadable->section, 0u);
    EXPECT_EQ(unreadable->offset, 0u);
    EXPECT_EQ(unreadable->length, 0u);
    EXPECT_EQ(c->offset, 3u);
}

TEST_F(input_feed, FileThatFillsARequestStaysOpenUntilTheNext) {
    its_entry *a = make_file("a", "12345678");
    its_entry *b = make_file("b", "abc");
    add_builtins();
    open_tree();

    char buffer[8];
    stdout_capture capture;
    ASSERT_EQ(feed_input(nullptr, 8, buffer), 8);
    EXPECT_EQ(capture.finish(), "Reading a ... ");
    EXPECT_NE(run.input_file, nullptr);
    EXPECT_EQ(run.current_index, 0u);
    EXPECT_EQ(a->length, 0u);
    EXPECT_EQ(input_exhausted(nullptr), 0);

    stdout_capture rest;
    ASSERT_EQ(feed_input(nullptr, 8, buffer), 3);
    EXPECT_EQ(rest.finish(), "done\nReading b ... done\n");
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_EQ(a->length, 8u);
    EXPECT_EQ(b->offset, 8u);
    EXPECT_EQ(input_exhausted(nullptr), 1);
    EXPECT_EQ(feed_input(nullptr, 8, buffer), 0);
}

TEST_F(input_feed, InputWithoutFilesIsNotExhaustedBeforeTheFirstRequest) {
    add_dir("/");
    add_dir("/empty/");
    add_builtins();
    open_tree();

    EXPECT_EQ(input_exhausted(nullptr), 0);
    char buffer[16];
    EXPECT_EQ(feed_input(nullptr, 16, buffer), 0);
    EXPECT_EQ(input_exhausted(nullptr), 1);
}

TEST_F(input_feed, EmptyTableIsExhausted) { EXPECT_EQ(input_exhausted(nullptr), 1); }

TEST_F(input_feed, SourcePathIsOpenedInPlaceOfTheInternalName) {
    write_file(tree / "deep/er/x", "flat");
    its_entry *x = add_file("/x", "deep/er/x");
    add_builtins();
    open_tree();

    stdout_capture capture;
    EXPECT_EQ(drain({10}), "flat");
    EXPECT_EQ(capture.finish(), "Reading x ... done\n");
    EXPECT_EQ(x->length, 4u);
}

TEST_F(input_feed, MissingInputDirectoryFailsEveryFileOnItsOwn) {
    make_file("a", "1");
    make_file("b", "2");
    add_builtins();
    open_input_dir((tree / "no-such-dir").c_str());

    stdout_capture capture;
    EXPECT_EQ(drain({10}), "");
    EXPECT_EQ(capture.finish(), "ERROR: Failed opening a\nERROR: Failed opening b\n");
}

// The walk catalogued regular files only; by the time they are read one may
// have become a pipe or a device. Reading those could block for ever (a pipe
// with a writer, a terminal) or never end (/dev/zero).
TEST_F(input_feed, NameThatIsNoLongerARegularFileIsLeftOutUnread) {
    ASSERT_EQ(mkfifo((tree / "pipe").c_str(), 0644), 0);
    its_entry *pipe = add_file("/pipe");
    ASSERT_EQ(symlink("/dev/zero", (tree / "zero").c_str()), 0);
    its_entry *zero = add_file("/zero");
    its_entry *last = make_file("z", "end");
    add_builtins();
    open_tree();

    // Not drain(): with /dev/zero read, it would gather bytes without end.
    stdout_capture capture;
    char buffer[64];
    int got = feed_input(nullptr, sizeof buffer, buffer);
    std::string printed = capture.finish();
    ASSERT_EQ(got, 3);
    EXPECT_EQ(std::string(buffer, 3), "end");
    EXPECT_EQ(printed,
              "WARNING: No longer a regular file: pipe (stored empty)\n"
              "WARNING: No longer a regular file: zero (stored empty)\n"
              "Reading z ... done\n");
    for (its_entry *entry : {pipe, zero}) {
        EXPECT_EQ(entry->section, 0u) << entry->name;
        EXPECT_EQ(entry->offset, 0u) << entry->name;
        EXPECT_EQ(entry->length, 0u) << entry->name;
    }
    EXPECT_EQ(last->offset, 0u);
    EXPECT_EQ(last->length, 3u);
    EXPECT_EQ(run.input_file, nullptr);
    EXPECT_EQ(input_exhausted(nullptr), 1);
}

TEST_F(input_feed, StreamReaching4GiBEndsTheRun) {
    make_file("a", "0123456789");
    add_builtins();
    open_tree();
    run.total_bytes = UINT32_MAX - 5;

    EXPECT_EXIT(
        {
            dup2(STDERR_FILENO, STDOUT_FILENO);
            char buffer[64];
            feed_input(nullptr, 64, buffer);
        },
        ::testing::ExitedWithCode(255), "ERROR: The input files add up to 4 GiB or more; an ITS file holds less than 4 GiB");
}

TEST_F(input_feed, StreamMayEndOneByteShortOf4GiB) {
    make_file("a", "0123456789");
    add_builtins();
    open_tree();
    run.total_bytes = UINT32_MAX - 10;

    stdout_capture capture;
    EXPECT_EQ(drain({64}), "0123456789");
    capture.finish();
    EXPECT_EQ(run.total_bytes, UINT32_MAX);
}

TEST_F(input_feed, FilesHeldInMemoryFollowInTableOrderWithoutProgress) {
    // A compiled help file's internal files: section 1 ones are fed like
    // files, section 0 ones are left for the container writer.
    static const uint8_t topics[] = {1, 2, 3, 0, 5};
    static const uint8_t system[] = {3, 0, 0, 0};
    run.name_prefix.buffer = const_cast<char *>("/");
    run.name_prefix.length = 1;
    ASSERT_EQ(add_memory_entry("#SYSTEM", system, sizeof system, 0), 0);
    ASSERT_EQ(add_memory_entry("#TOPICS", topics, sizeof topics, 1), 0);
    its_entry *page = make_file("page.html", "<p>x</p>");
    add_builtins();
    open_tree();

    stdout_capture capture;
    std::string stream = drain({3});
    EXPECT_EQ(capture.finish(), "Reading page.html ... done\n");
    EXPECT_EQ(stream, std::string("\1\2\3\0\5", 5) + "<p>x</p>");
    EXPECT_EQ(run.entry_table.entries[0]->length, 4u);
    EXPECT_EQ(run.entry_table.entries[0]->section, 0u);
    EXPECT_EQ(run.entry_table.entries[1]->offset, 0u);
    EXPECT_EQ(run.entry_table.entries[1]->length, 5u);
    EXPECT_EQ(page->offset, 5u);
    run.name_prefix.buffer = nullptr;
}
