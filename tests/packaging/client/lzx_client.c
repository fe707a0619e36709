/* A program outside the project: compresses a small buffer through the
 * installed lzxcomp and checks what the library reports. Exit 0 when all
 * holds; otherwise it says what did not. */
#include <lzxcomp.h>
#include <stdio.h>
#include <string.h>

enum { frame = 32768, input_size = 2 * frame + 4464, max_marks = 8 };

static unsigned char input[input_size];
static size_t input_taken;
static uint64_t output_bytes;
static uint32_t marks_uncompressed[max_marks], marks_compressed[max_marks];
static int mark_count;

static int get_bytes(void *context, int n, void *buf) {
    (void)context;
    size_t left = input_size - input_taken;
    size_t count = (size_t)n < left ? (size_t)n : left;
    memcpy(buf, input + input_taken, count);
    input_taken += count;
    return (int)count;
}

static int at_eof(void *context) {
    (void)context;
    return input_taken == input_size;
}

static int put_bytes(void *context, int n, void *buf) {
    (void)context;
    (void)buf;
    output_bytes += (uint64_t)n;
    return n;
}

static void mark_frame(void *context, uint32_t uncompressed_position, uint32_t compressed_position) {
    (void)context;
    if (mark_count < max_marks) {
        marks_uncompressed[mark_count] = uncompressed_position;
        marks_compressed[mark_count] = compressed_position;
    }
    mark_count++;
}

static int failures;
static void check(int holds, const char *what) {
    if (!holds) {
        printf("FAILED: %s\n", what);
        failures++;
    }
}

int main(void) {
    for (size_t i = 0; i < input_size; i++) input[i] = (unsigned char)("the frame of the tree "[i % 22] + (i / 997) % 3);

    lzx_data *handle = NULL;
    check(lzx_init(&handle, 15, get_bytes, NULL, at_eof, put_bytes, NULL, mark_frame, NULL) == 0, "lzx_init");
    if (!handle) return 1;
    while (!at_eof(NULL)) {
        lzx_reset(handle); /* a decoder reset before every frame, as a 32 KiB window's ControlData says */
        check(lzx_compress_block(handle, frame, 1) >= 0, "lzx_compress_block");
    }
    lzx_results results;
    check(lzx_finish(handle, &results) >= 0, "lzx_finish");

    check(results.uncompressed_length == input_size, "uncompressed length is the input size");
    check(results.compressed_length == output_bytes, "compressed length is what put_bytes took");
    check(output_bytes > 0 && output_bytes < input_size / 4, "repetitive text compresses");
    check(mark_count == 3, "one reset point at the end of each of the three frames");
    for (int i = 0; i < mark_count && i < max_marks; i++) {
        check(marks_uncompressed[i] == (uint32_t)(i + 1) * frame, "reset points fall on frame ends");
        check(marks_compressed[i] % 2 == 0, "frames end on a 16-bit boundary");
        check(marks_compressed[i] <= output_bytes, "reset points lie inside the stream");
        if (i > 0) check(marks_compressed[i] > marks_compressed[i - 1], "reset points grow");
    }
    check(lzx_init(&handle, 14, get_bytes, NULL, at_eof, put_bytes, NULL, mark_frame, NULL) != 0,
          "a window below 2^15 is refused");

    check(strcmp(LZXCOMP_VERSION, EXPECTED_VERSION) == 0, "the header's version is the package's");

    printf("%s: %llu bytes -> %llu bytes, %d reset points\n", failures ? "FAILED" : "ok",
           (unsigned long long)results.uncompressed_length, (unsigned long long)results.compressed_length,
           mark_count);
    return failures ? 1 : 0;
}
