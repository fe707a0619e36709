#include "its_wrapper.h"

#include <chm_lib.h>
#include <mspack.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "lzxcomp.h"

// GCC 12 sees writes into the freshly sized container buffer as overflowing
// a zero-sized region (a known false positive).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#endif

namespace lzx_test {

int keep_output(void *context, int n, void *buf) {
    auto *out = static_cast<compressed_stream *>(context);
    const auto *bytes = static_cast<const uint8_t *>(buf);
    out->bytes.insert(out->bytes.end(), bytes, bytes + n);
    return n;
}

void keep_frame_end(void *context, uint32_t uncompressed, uint32_t compressed) {
    auto *out = static_cast<compressed_stream *>(context);
    out->frame_ends_uncompressed.push_back(uncompressed);
    out->frame_ends_compressed.push_back(compressed);
}

namespace {

struct input_source {
    const uint8_t *data;
    size_t size;
    size_t position = 0;
    bool ended = false;
};

int take_input(void *context, int n, void *buf) {
    auto *in = static_cast<input_source *>(context);
    size_t count = std::min(static_cast<size_t>(n), in->size - in->position);
    if (count) std::memcpy(buf, in->data + in->position, count);
    in->position += count;
    if (count < static_cast<size_t>(n)) in->ended = true;
    return static_cast<int>(count);
}

int input_ended(void *context) { return static_cast<input_source *>(context)->ended; }

// Little-endian field of `width` bytes at `at`.
void put_le(std::vector<uint8_t> &b, size_t at, uint64_t v, int width) {
    uint8_t bytes[8];
    for (int i = 0; i < 8; i++) bytes[i] = uint8_t(v >> (8 * i));
    std::copy(bytes, bytes + width, b.begin() + std::ptrdiff_t(at));
}
void put16(std::vector<uint8_t> &b, size_t at, uint32_t v) { put_le(b, at, v, 2); }
void put32(std::vector<uint8_t> &b, size_t at, uint32_t v) { put_le(b, at, v, 4); }
void put64(std::vector<uint8_t> &b, size_t at, uint64_t v) { put_le(b, at, v, 8); }
void put_text(std::vector<uint8_t> &b, size_t at, const char *text) { std::memcpy(&b[at], text, std::strlen(text)); }
void put_utf16(std::vector<uint8_t> &b, size_t at, const char *text) {
    for (size_t i = 0; text[i]; i++) put16(b, at + 2 * i, uint8_t(text[i]));
}

const uint8_t header_guid_1[16] = {0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                   0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
const uint8_t header_guid_2[16] = {0x11, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                   0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
const uint8_t directory_guid[16] = {0x6A, 0x92, 0x02, 0x5D, 0x2E, 0x21, 0xD0, 0x11,
                                    0x9D, 0xF9, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};

size_t put_encint(std::vector<uint8_t> &b, size_t at, uint64_t v) {
    uint8_t groups[10];
    int n = 0;
    do {
        groups[n++] = uint8_t(v & 0x7F);
        v >>= 7;
    } while (v);
    for (int i = n - 1; i >= 0; i--) b[at++] = uint8_t(groups[i] | (i ? 0x80 : 0));
    return at;
}

struct directory_entry {
    const char *name;
    uint32_t section;
    uint64_t offset;
    uint64_t length;
};

// In-memory files for libmspack: the container to read, the file to extract into.
struct memory_file {
    const std::vector<uint8_t> *source = nullptr;
    std::vector<uint8_t> *sink = nullptr;
    size_t position = 0;
};

struct memory_system {
    mspack_system base;
    const std::vector<uint8_t> *its;
    std::vector<uint8_t> *extracted;
};

mspack_file *memory_open(mspack_system *self, const char *name, int mode) {
    auto *sys = reinterpret_cast<memory_system *>(self);
    auto *f = new memory_file;
    if (std::strcmp(name, "its") == 0 && mode == MSPACK_SYS_OPEN_READ) {
        f->source = sys->its;
    } else if (std::strcmp(name, "out") == 0 && mode == MSPACK_SYS_OPEN_WRITE) {
        f->sink = sys->extracted;
        f->sink->clear();
    } else {
        delete f;
        return nullptr;
    }
    return reinterpret_cast<mspack_file *>(f);
}

void memory_close(mspack_file *file) { delete reinterpret_cast<memory_file *>(file); }

int memory_read(mspack_file *file, void *buffer, int bytes) {
    auto *f = reinterpret_cast<memory_file *>(file);
    if (!f->source || bytes < 0) return -1;
    size_t count = std::min(static_cast<size_t>(bytes), f->source->size() - std::min(f->position, f->source->size()));
    if (count) std::memcpy(buffer, f->source->data() + f->position, count);
    f->position += count;
    return static_cast<int>(count);
}

int memory_write(mspack_file *file, void *buffer, int bytes) {
    auto *f = reinterpret_cast<memory_file *>(file);
    if (!f->sink || bytes < 0) return -1;
    const auto *p = static_cast<const uint8_t *>(buffer);
    f->sink->insert(f->sink->end(), p, p + bytes);
    return bytes;
}

int memory_seek(mspack_file *file, off_t offset, int mode) {
    auto *f = reinterpret_cast<memory_file *>(file);
    off_t size = f->source ? off_t(f->source->size()) : off_t(f->sink->size());
    off_t base = mode == MSPACK_SYS_SEEK_START ? 0 : mode == MSPACK_SYS_SEEK_CUR ? off_t(f->position) : size;
    off_t target = base + offset;
    if (target < 0 || target > size) return -1;
    f->position = size_t(target);
    return 0;
}

off_t memory_tell(mspack_file *file) { return off_t(reinterpret_cast<memory_file *>(file)->position); }

void memory_message(mspack_file *, const char *, ...) {}
void *memory_alloc(mspack_system *, size_t bytes) { return std::malloc(bytes); }
void memory_free(void *p) { std::free(p); }
void memory_copy(void *src, void *dest, size_t bytes) { std::memmove(dest, src, bytes); }

}  // namespace

int compress_buffer(const uint8_t *data, size_t size, const compress_options &options, compressed_stream &out) {
    out = compressed_stream{};
    out.window_bits = options.window_bits;
    out.reset_frames = options.reset_frames;
    input_source in{data, size};
    lzx_data *handle = nullptr;
    int status = lzx_init(&handle, options.window_bits, take_input, &in, input_ended, keep_output, &out,
                          keep_frame_end, &out);
    if (status != 0) return status;
    const size_t window = size_t(1) << options.window_bits;
    const size_t unit = options.reset_frames ? size_t(options.reset_frames) * 32768 : window;
    const size_t block_size = options.block_size ? size_t(options.block_size) : window;
    while (!in.ended && !(options.stop_when_consumed && in.position == size)) {
        // Decoders reset once a unit, as ControlData says: no call runs
        // across a unit's end, and each unit starts with a reset.
        if (in.position % unit == 0) lzx_reset(handle);
        const size_t to_unit_end = unit - in.position % unit;
        status = lzx_compress_block(handle, int(std::min(block_size, to_unit_end)), options.split_blocks);
        if (status < 0) break;
    }
    lzx_results results{};
    int finish = lzx_finish(handle, &results);
    out.compressed_length = results.compressed_length;
    out.uncompressed_length = results.uncompressed_length;
    return status < 0 ? status : finish;
}

std::vector<uint8_t> wrap_in_its(const compressed_stream &stream) {
    const uint64_t frames = stream.frame_ends_compressed.size();
    const uint64_t z = stream.bytes.size();
    const uint64_t reset_table_length = 48 + 8 * frames;
    const uint64_t content_offset = 134 + reset_table_length;
    const size_t chunk_size = 4096, directory_start = 120, section0 = directory_start + 84 + chunk_size;
    std::vector<uint8_t> b(section0 + content_offset + z, 0);

    // ITSF header, header section 0.
    put_text(b, 0, "ITSF");
    put32(b, 4, 3);
    put32(b, 8, 96);
    put32(b, 12, 1);
    put32(b, 20, 1033);
    std::memcpy(&b[24], header_guid_1, 16);
    std::memcpy(&b[40], header_guid_2, 16);
    put64(b, 56, 96);
    put64(b, 64, 24);
    put64(b, 72, directory_start);
    put64(b, 80, 84 + chunk_size);
    put64(b, 88, section0);
    put32(b, 96, 0x1FE);
    put64(b, 104, b.size());

    // ITSP header: one leaf, no index.
    size_t p = directory_start;
    put_text(b, p, "ITSP");
    put32(b, p + 4, 1);
    put32(b, p + 8, 84);
    put32(b, p + 12, 10);
    put32(b, p + 16, chunk_size);
    put32(b, p + 20, 2);
    put32(b, p + 24, 1);
    put32(b, p + 28, 0xFFFFFFFF);
    put32(b, p + 32, 0);
    put32(b, p + 36, 0);
    put32(b, p + 40, 0xFFFFFFFF);
    put32(b, p + 44, 1);
    put32(b, p + 48, 1033);
    std::memcpy(&b[p + 52], directory_guid, 16);
    put32(b, p + 68, 84);
    put32(b, p + 72, 0xFFFFFFFF);
    put32(b, p + 76, 0xFFFFFFFF);
    put32(b, p + 80, 0xFFFFFFFF);

    // The leaf, names in their sorted order.
    const directory_entry entries[] = {
        {"/data", 1, 0, stream.uncompressed_length},
        {"::DataSpace/NameList", 0, 0, 60},
        {"::DataSpace/Storage/MSCompressed/Content", 0, content_offset, z},
        {"::DataSpace/Storage/MSCompressed/ControlData", 0, 106, 28},
        {"::DataSpace/Storage/MSCompressed/SpanInfo", 0, 98, 8},
        {"::DataSpace/Storage/MSCompressed/Transform/List", 0, 60, 38},
        {"::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/"
         "ResetTable",
         0, 134, reset_table_length},
    };
    const size_t chunk = directory_start + 84, data_area = chunk + 20;
    size_t at = data_area, count = 0;
    for (const directory_entry &e : entries) {
        if (count > 0 && count % 5 == 0) put16(b, chunk + chunk_size - 2 - 2 * (count / 5), uint32_t(at - data_area));
        size_t len = std::strlen(e.name);
        b[at++] = uint8_t(len);
        std::memcpy(&b[at], e.name, len);
        at += len;
        at = put_encint(b, at, e.section);
        at = put_encint(b, at, e.offset);
        at = put_encint(b, at, e.length);
        count++;
    }
    put_text(b, chunk, "PMGL");
    put32(b, chunk + 4, uint32_t(chunk_size - 20 - (at - data_area)));
    put32(b, chunk + 12, 0xFFFFFFFF);
    put32(b, chunk + 16, 0xFFFFFFFF);
    put16(b, chunk + chunk_size - 2, uint32_t(count));

    // Section 0: NameList, Transform/List, SpanInfo, ControlData, ResetTable, Content.
    put16(b, section0, 30);
    put16(b, section0 + 2, 2);
    put16(b, section0 + 4, 12);
    put_utf16(b, section0 + 6, "Uncompressed");
    put16(b, section0 + 32, 12);
    put_utf16(b, section0 + 34, "MSCompressed");
    put_utf16(b, section0 + 60, "{7FC28940-9D31-11D0");
    put64(b, section0 + 98, stream.uncompressed_length);
    put32(b, section0 + 106, 6);
    put_text(b, section0 + 110, "LZXC");
    put32(b, section0 + 114, 2);
    // What a real container says: a reset every unit of the caller's
    // (by default a window), and windows per reset set so that chmlib finds
    // the same reset interval.
    const uint32_t window_frames = 1u << (stream.window_bits - 15);
    const uint32_t reset_frames = stream.reset_frames ? uint32_t(stream.reset_frames) : window_frames;
    put32(b, section0 + 118, reset_frames);
    put32(b, section0 + 122, window_frames);
    put32(b, section0 + 126, reset_frames / 2);
    size_t rt = section0 + 134;
    put32(b, rt, 2);
    put32(b, rt + 4, uint32_t(frames + 1));
    put32(b, rt + 8, 8);
    put32(b, rt + 12, 40);
    put64(b, rt + 16, stream.uncompressed_length);
    put64(b, rt + 24, z);
    put64(b, rt + 32, 32768);
    for (uint64_t i = 0; i < frames; i++) put64(b, rt + 48 + 8 * i, stream.frame_ends_compressed[i]);
    if (z) std::memcpy(&b[section0 + content_offset], stream.bytes.data(), z);
    return b;
}

bool decode_with_mspack(const std::vector<uint8_t> &its, std::vector<uint8_t> &out, std::string &error) {
    memory_system sys{};
    sys.base.open = memory_open;
    sys.base.close = memory_close;
    sys.base.read = memory_read;
    sys.base.write = memory_write;
    sys.base.seek = memory_seek;
    sys.base.tell = memory_tell;
    sys.base.message = memory_message;
    sys.base.alloc = memory_alloc;
    sys.base.free = memory_free;
    sys.base.copy = memory_copy;
    sys.its = &its;
    sys.extracted = &out;
    out.clear();
    mschm_decompressor *chm = mspack_create_chm_decompressor(&sys.base);
    if (!chm) {
        error = "no decompressor";
        return false;
    }
    bool ok = false;
    mschmd_header *header = chm->open(chm, "its");
    if (!header) {
        error = "open failed, error " + std::to_string(chm->last_error(chm));
    } else {
        mschmd_file *file = header->files;
        while (file && std::strcmp(file->filename, "/data") != 0) file = file->next;
        if (!file) {
            error = "/data not listed";
        } else if (int e = chm->extract(chm, file, "out"); e != MSPACK_ERR_OK) {
            error = "extract failed, error " + std::to_string(e);
        } else {
            ok = true;
        }
        chm->close(chm, header);
    }
    mspack_destroy_chm_decompressor(chm);
    return ok;
}

bool decode_with_chmlib(const std::vector<uint8_t> &its, std::vector<uint8_t> &out, std::string &error) {
    // chm_open takes a path only.
    std::string path = (std::filesystem::temp_directory_path() / "lzxchm.XXXXXX").string();
    int fd = mkstemp(path.data());
    if (fd < 0) {
        error = "no temporary file";
        return false;
    }
    close(fd);
    {
        std::ofstream f(path, std::ios::binary);
        f.write(reinterpret_cast<const char *>(its.data()), std::streamsize(its.size()));
    }
    out.clear();
    bool ok = false;
    chmFile *chm = chm_open(path.c_str());
    chmUnitInfo unit{};
    if (!chm) {
        error = "chm_open failed";
    } else if (chm_resolve_object(chm, "/data", &unit) != CHM_RESOLVE_SUCCESS) {
        error = "/data not found";
    } else {
        out.resize(unit.length);
        LONGUINT64 got = 0;
        while (got < unit.length) {
            LONGINT64 n = chm_retrieve_object(chm, &unit, out.data() + got, got, LONGINT64(unit.length - got));
            if (n <= 0) break;
            got += LONGUINT64(n);
        }
        ok = got == unit.length;
        if (!ok) error = "retrieved " + std::to_string(got) + " of " + std::to_string(unit.length) + " bytes";
    }
    if (chm) chm_close(chm);
    unlink(path.c_str());
    return ok;
}

}  // namespace lzx_test
