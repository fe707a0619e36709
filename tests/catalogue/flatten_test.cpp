#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "catalogue/builtin_entries.h"
#include "catalogue/walk_dir.h"
#include "catalogue_test_support.h"
#include "run/settings.h"

namespace {
// The catalogue steps of the run sequence with flattened names.
std::string catalogue_flat(const std::string &path) {
    settings.flatten_names = 1;
    start_prefix();
    stdout_capture capture;
    add_dir_entry();
    walk_dir(path.c_str());
    add_builtin_entries();
    sort_entries();
    drop_duplicate_names();
    return capture.finish();
}

std::vector<std::string> input_names(void) {
    std::vector<std::string> names;
    for (const std::string &name : table_names())
        if (name[0] == '/') names.push_back(name);
    return names;
}

// What the compression pass would read for the entry: its source path, or
// its name without the "/", relative to the input directory.
std::string content_of(const std::string &top, const its_entry *entry) {
    const char *relative = entry->source_path ? entry->source_path : entry->name + 1;
    return read_file(top + "/" + relative);
}
}  // namespace

TEST_F(catalogue, FlattenedFilesKeepTheirRealPathsAndCollisionsAreDropped) {
    temp_dir root;
    write_file(root / "a", "top a");
    write_file(root / "sub/b", "sub b");
    write_file(root / "sub/deep/c", "deep c");
    write_file(root / "other/a", "other a");
    write_file(root / "x/dup", "x dup");
    write_file(root / "y/dup", "y dup");
    write_file(root / "y/Dup", "y Dup");
    std::string output = catalogue_flat(root.path());

    std::vector<std::string> expected = {"/", "/a", "/b", "/c", "/Dup", "/dup"};
    EXPECT_EQ(input_names(), expected);
    EXPECT_EQ(run.entry_table.count, expected.size() + 7);
    EXPECT_EQ(find_entry("/a")->source_path, nullptr);
    EXPECT_STREQ(find_entry("/b")->source_path, "sub/b");
    EXPECT_STREQ(find_entry("/c")->source_path, "sub/deep/c");
    EXPECT_STREQ(find_entry("/dup")->source_path, "x/dup");
    EXPECT_EQ(content_of(root.path(), find_entry("/a")), "top a");
    EXPECT_EQ(content_of(root.path(), find_entry("/c")), "deep c");
    EXPECT_EQ(content_of(root.path(), find_entry("/dup")), "x dup");
    EXPECT_EQ(content_of(root.path(), find_entry("/Dup")), "y Dup");

    EXPECT_NE(output.find("WARNING: The flattened name a is taken by a already (ignoring other/a)\n"),
              std::string::npos);
    EXPECT_NE(output.find("WARNING: The flattened name dup is taken by x/dup already (ignoring y/dup)\n"),
              std::string::npos);
    EXPECT_STREQ(run.name_prefix.buffer, "/");
}

TEST_F(catalogue, FlattenedWalkStopsAtADirectoryLoop) {
    temp_dir root;
    write_file(root / "s/f", "f");
    ASSERT_EQ(symlink("..", (root / "s/up").c_str()), 0);
    ASSERT_EQ(symlink(".", (root / "s/self").c_str()), 0);
    std::string output = catalogue_flat(root.path());
    EXPECT_EQ(input_names(), (std::vector<std::string>{"/", "/f"}));
    EXPECT_NE(output.find("WARNING: Directory s/up/ leads back to a directory above it (ignoring)\n"),
              std::string::npos);
    EXPECT_NE(output.find("WARNING: Directory s/self/ leads back to a directory above it (ignoring)\n"),
              std::string::npos);
}

TEST_F(catalogue, FlattenedNamesAreLimitedAloneAndDirectoriesAreNot) {
    temp_dir root;
    // Deep enough that the real path passes 255 bytes: only the name counts.
    std::string deep = std::string(200, 'd') + "/" + std::string(200, 'e');
    write_file(root / (deep + "/" + std::string(254, 'k')), "kept");
    write_file(root / (deep + "/" + std::string(255, 'r')), "refused");
    std::string output = catalogue_flat(root.path());
    EXPECT_EQ(input_names(), (std::vector<std::string>{"/", "/" + std::string(254, 'k')}));
    EXPECT_EQ(content_of(root.path(), find_entry("/" + std::string(254, 'k'))), "kept");
    EXPECT_NE(output.find("longer than 255 characters (ignoring " + std::string(255, 'r') + "/)\n"),
              std::string::npos);
}

TEST_F(catalogue, FlattenedWalkNamesAnUnopenableDirectoryByItsPath) {
    expect_as_unprivileged_user([]() -> std::string {
        temp_dir root;
        if (root.path().empty()) return "no temporary directory";
        write_file(root / "sub/closed/x", "");
        write_file(root / "sub/y", "y");
        if (chmod((root / "sub/closed").c_str(), 0300) != 0) return "chmod";
        std::string output = catalogue_flat(root.path());
        if (output != "WARNING: Could not open directory sub/closed/ (ignoring)\n") return "output: " + output;
        if (input_names() != std::vector<std::string>{"/", "/y"}) return "names differ";
        return "";
    });
}

TEST_F(catalogue, DuplicateDropLeavesDistinctNamesAlone) {
    // Without flattening no two names are byte-identical; the drop must keep
    // names that differ only in case.
    temp_dir root;
    write_file(root / "README", "1");
    write_file(root / "readme", "2");
    write_file(root / "s/README", "3");
    start_prefix();
    stdout_capture capture;
    walk_dir(root.path().c_str());
    sort_entries();
    drop_duplicate_names();
    EXPECT_EQ(capture.finish(), "");
    EXPECT_EQ(table_names(), (std::vector<std::string>{"/README", "/readme", "/s/", "/s/README"}));
}
