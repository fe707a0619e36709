// Containers read back by libmspack's CHM reader: the full listing through
// open(), and fast_find(), which walks the index chunks and quickref slots.
#include <mspack.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "container_fixture.h"

namespace {
struct expected_file {
    uint32_t section, offset, length;
};

class mspack_reader : public container {
  protected:
    void SetUp() override {
        container::SetUp();
        reader = mspack_create_chm_decompressor(nullptr);
        ASSERT_NE(reader, nullptr);
    }
    void TearDown() override {
        mspack_destroy_chm_decompressor(reader);
        container::TearDown();
    }

    // Every name of the catalogue that is not a directory.
    std::map<std::string, expected_file> expected_files(void) {
        std::map<std::string, expected_file> files;
        for (uint64_t i = 0; i < run.entry_table.count; i++) {
            const its_entry *e = run.entry_table.entries[i];
            std::string name(e->name, e->name_len);
            if (name.back() != '/') files[name] = {e->section, e->offset, e->length};
        }
        return files;
    }

    // Writes a container of n files and checks that fast_find locates
    // every name, and nothing that is not there, on a directory of `depth`.
    void check_fast_find(uint32_t n, size_t name_length, uint32_t depth) {
        catalogue_files(n, name_length);
        compressed("", {});
        std::string f = write();
        ASSERT_EQ(le32(f, 120 + 24), depth);

        // The reader keeps the name and opens the file again in fast_find.
        const std::string path = output_path();
        mschmd_header *chm = reader->fast_open(reader, path.c_str());
        ASSERT_NE(chm, nullptr) << "error " << reader->last_error(reader);
        for (const auto &[name, want] : expected_files()) {
            mschmd_file found = {};
            ASSERT_EQ(reader->fast_find(reader, chm, name.c_str(), &found, sizeof found), MSPACK_ERR_OK) << name;
            ASSERT_NE(found.section, nullptr) << "not found: " << name;
            EXPECT_EQ(found.section->id, want.section) << name;
            EXPECT_EQ(found.offset, static_cast<off_t>(want.offset)) << name;
            EXPECT_EQ(found.length, static_cast<off_t>(want.length)) << name;
        }
        for (const std::string &absent : {numbered_name(n, name_length), std::string("/"),
                                          std::string("/zzz"), std::string("::DataSpace/Nothing")}) {
            mschmd_file found = {};
            ASSERT_EQ(reader->fast_find(reader, chm, absent.c_str(), &found, sizeof found), MSPACK_ERR_OK);
            EXPECT_EQ(found.section, nullptr) << "found absent " << absent;
        }
        reader->close(reader, chm);
    }

    mschm_decompressor *reader = nullptr;
};
}  // namespace

TEST_F(mspack_reader, OpenListsEveryFile) {
    catalogue_files(300);
    compressed(pattern_bytes(50), {});
    std::string f = write();

    const std::string path = output_path();
    mschmd_header *chm = reader->open(reader, path.c_str());
    ASSERT_NE(chm, nullptr) << "error " << reader->last_error(reader);
    EXPECT_EQ(chm->num_chunks, 4u);
    EXPECT_EQ(chm->chunk_size, 4096u);
    EXPECT_EQ(chm->density, 2u);
    EXPECT_EQ(chm->depth, 2u);
    EXPECT_EQ(chm->index_root, 3);
    EXPECT_EQ(chm->first_pmgl, 0u);
    EXPECT_EQ(chm->last_pmgl, 2u);
    EXPECT_EQ(chm->length, static_cast<off_t>(f.size()));

    std::map<std::string, expected_file> want = expected_files();
    size_t listed = 0;
    for (mschmd_file *list : {chm->files, chm->sysfiles}) {
        for (mschmd_file *file = list; file; file = file->next, listed++) {
            auto it = want.find(file->filename);
            ASSERT_NE(it, want.end()) << "unexpected name " << file->filename;
            EXPECT_EQ(file->section->id, it->second.section);
            EXPECT_EQ(file->offset, static_cast<off_t>(it->second.offset));
            EXPECT_EQ(file->length, static_cast<off_t>(it->second.length));
        }
    }
    EXPECT_EQ(listed, want.size());
    reader->close(reader, chm);
}

TEST_F(mspack_reader, FastFindOnDepthTwo) { check_fast_find(300, 30, 2); }

TEST_F(mspack_reader, FastFindOnDepthThree) { check_fast_find(15000, 30, 3); }

TEST_F(mspack_reader, FastFindOnDepthFour) { check_fast_find(3400, 255, 4); }
// Names of 128 bytes and more carry a two-byte length.
TEST_F(mspack_reader, FastFindWithLongNames) { check_fast_find(300, 255, 3); }

// 7-Zip reads the leaves in file order; it must list every input file of a
// three-level directory with long names. The files are kept within one LZX
// frame, for which an empty reset table suffices.
TEST_F(container, SevenZipListsEveryFile) {
    catalogue_files(600, 200, 50);
    compressed("", {});
    std::string f = write();
    ASSERT_EQ(le32(f, 120 + 24), 3u);
    process_result listing = run_process({SEVENZIP_EXECUTABLE, "l", "-slt", output_path()});
    ASSERT_EQ(listing.status, 0) << listing.output;
    size_t listed = 0;
    for (size_t at = listing.output.find("\nPath = "); at != std::string::npos;
         at = listing.output.find("\nPath = ", at + 1)) {
        listed++;
    }
    EXPECT_EQ(listed, 600u + 1);  // the archive itself comes first
    for (uint32_t i = 0; i < 600; i += 37) {
        EXPECT_NE(listing.output.find("Path = " + numbered_name(i, 200).substr(1) + "\n"), std::string::npos) << i;
    }
}
