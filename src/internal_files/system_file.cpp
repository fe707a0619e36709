// /#SYSTEM: the project's settings as (code, length, data) entries after a
// version. The viewers read only the 4096 bytes after the version, so the
// codes they use come first, in the order the viewers have always seen.
#include "internal_files/file_builders.h"
#include "internal_files/shorten_text.h"
#include "project/code_page.h"

namespace {
constexpr char compiler_version[] = "HHA Version 4.74.8702";
constexpr size_t version_size = 4;
constexpr size_t read_window = 4096;     // what the viewers read after the version
constexpr size_t entry_head = 4;         // code and length
constexpr size_t longest_text = 0xFFFE;  // the length WORD counts the NUL
constexpr uint64_t filetime_of_unix_epoch = 116444736000000000ull;  // 100 ns units since 1601

enum system_code : uint16_t {
    code_contents = 0,
    code_index = 1,
    code_default_topic = 2,
    code_title = 3,
    code_language = 4,
    code_default_window = 5,
    code_compiled_stem = 6,
    code_compiler = 9,
    code_build_time = 10,
    code_information_types = 12,
    code_index_header = 13,
    code_information_type_checksum = 15,
    code_default_font = 16,
};

void append_entry(byte_vector &out, uint16_t code, const byte_vector &data) {
    append_le16(out, code);
    append_le16(out, static_cast<uint16_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
}

void append_dword_entry(byte_vector &out, uint16_t code, uint32_t value) {
    byte_vector data;
    append_le32(data, value);
    append_entry(out, code, data);
}

// An absent setting gets no entry, except where `always`.
void append_text_entry(byte_vector &out, uint16_t code, std::string_view text, uint32_t code_page,
                       bool always = false) {
    if (text.empty() && !always) return;
    byte_vector data;
    append_text(data, shorten_text(text, longest_text, code_page));
    append_entry(out, code, data);
}

// Code 4: language, DBCS, full-text search (the index is written whenever
// the project asks for it), keyword and associative links (none), the build
// time as a FILETIME, two unknown zeros.
byte_vector language_entry(const help_project &project, uint32_t build_seconds) {
    byte_vector data;
    append_le32(data, project.lcid != 0 ? project.lcid : 0x409);  // a reader gives up on 0
    append_le32(data, is_double_byte(project.code_page) ? 1 : 0);
    append_le32(data, project.full_text_search ? 1 : 0);
    append_le32(data, 0);
    append_le32(data, 0);
    append_le64(data, filetime_of_unix_epoch + uint64_t{build_seconds} * 10000000);
    append_le32(data, 0);
    append_le32(data, 0);
    return data;
}
}  // namespace

byte_vector build_system(const help_project &project, uint32_t build_seconds, const byte_vector &index_header) {
    uint32_t code_page = project.code_page;
    byte_vector head;
    append_le32(head, project.compatibility_1_0 ? 2 : 3);
    append_dword_entry(head, code_build_time, build_seconds);
    append_text_entry(head, code_compiler, compiler_version, code_page);
    append_entry(head, code_language, language_entry(project, build_seconds));
    append_text_entry(head, code_default_topic, project.default_topic, code_page);

    byte_vector tail;
    append_text_entry(tail, code_default_font, project.default_font, code_page);
    append_text_entry(tail, code_compiled_stem, project.compiled_stem, code_page, true);
    append_text_entry(tail, code_default_window, project.default_window, code_page);
    append_text_entry(tail, code_contents, project.contents_file, code_page);
    append_text_entry(tail, code_index, project.index_file, code_page);

    // The title, between the two, gives up what the read window lacks.
    size_t used = head.size() - version_size + tail.size() + entry_head + 1;
    size_t title_room = used < read_window ? read_window - used : 0;
    append_text_entry(head, code_title, shorten_text(project.title, title_room, code_page), code_page);

    head.insert(head.end(), tail.begin(), tail.end());
    append_dword_entry(head, code_information_types, 0);
    append_entry(head, code_index_header, index_header);
    append_dword_entry(head, code_information_type_checksum, 0);
    return head;
}
