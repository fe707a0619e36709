// Spans compressed side by side: the same stream for every thread count,
// every callback on the caller's thread, no thread left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "its_wrapper.h"
#include "lzxcomp.h"
#include "test_inputs.h"

namespace {

using namespace lzx_test;

constexpr size_t frame = 32768;

// LZXCOMP_THREADS for the handles made while it lives.
class thread_setting {
  public:
    explicit thread_setting(unsigned threads) { setenv("LZXCOMP_THREADS", std::to_string(threads).c_str(), 1); }
    ~thread_setting() { unsetenv("LZXCOMP_THREADS"); }
};

int threads_in_process() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
    return -1;
}

// The thread count once joined threads have left it: the kernel counts a
// thread until it is reaped, a moment after pthread_join has returned.
int threads_after_joins(int expected) {
    int count = threads_in_process();
    for (int wait = 0; count > expected && wait < 2000; wait++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        count = threads_in_process();
    }
    return count;
}

compressed_stream compress_with(unsigned threads, const std::vector<uint8_t> &input, const compress_options &options) {
    thread_setting setting(threads);
    compressed_stream s;
    s.window_bits = options.window_bits;
    EXPECT_EQ(compress_buffer(input.data(), input.size(), options, s), 0);
    return s;
}

TEST(threads, same_stream_for_every_thread_count) {
    std::vector<uint8_t> mixed;
    for (uint32_t i = 0; i < 12; i++) {
        auto piece = i % 3 ? text_bytes(frame + 777 * i, i) : random_bytes(frame / 2 + i, i);
        mixed.insert(mixed.end(), piece.begin(), piece.end());
    }
    struct stream_case {
        const char *name;
        std::vector<uint8_t> input;
        compress_options options;
    } cases[] = {
        {"text", text_bytes(frame * 4, 1), {}},
        {"random", random_bytes(frame * 3, 2), {}},
        {"partial final frame", text_bytes(frame * 4 + 1234, 3), {}},
        {"empty", {}, {}},
        {"many frames in odd calls, last flushed by finish", mixed,
         {.block_size = 10000, .stop_when_consumed = true}},
        // Units of four frames: every other span goes on from the one before.
        {"large window, unsplit", text_bytes(frame * 9 + 500, 4), {.window_bits = 17, .split_blocks = 0}},
    };
    for (const stream_case &c : cases) {
        SCOPED_TRACE(c.name);
        compressed_stream one = compress_with(1, c.input, c.options);
        EXPECT_EQ(one.uncompressed_length, c.input.size());
        for (unsigned threads : {2u, 3u, 8u}) {
            SCOPED_TRACE(threads);
            compressed_stream many = compress_with(threads, c.input, c.options);
            EXPECT_TRUE(many.bytes == one.bytes);
            EXPECT_EQ(many.frame_ends_compressed, one.frame_ends_compressed);
            EXPECT_EQ(many.frame_ends_uncompressed, one.frame_ends_uncompressed);
            EXPECT_EQ(many.compressed_length, one.compressed_length);
            EXPECT_EQ(many.uncompressed_length, one.uncompressed_length);
        }
    }
}

// What the callbacks saw, for a stream of zero bytes.
struct observer {
    std::thread::id caller = std::this_thread::get_id();
    bool all_on_caller = true;
    int most_threads = 0;
    size_t input_left = 0;
    int put_calls = 0;
    int refuse_at_put = 0;  // that put_bytes call takes half; 0: none
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> marks;

    void seen() {
        if (std::this_thread::get_id() != caller) all_on_caller = false;
        most_threads = std::max(most_threads, threads_in_process());
    }
};

int observed_input(void *context, int n, void *buf) {
    auto *o = static_cast<observer *>(context);
    o->seen();
    size_t count = std::min(size_t(n), o->input_left);
    std::memset(buf, 'z', count);
    o->input_left -= count;
    return int(count);
}

int observed_output(void *context, int n, void *buf) {
    auto *o = static_cast<observer *>(context);
    o->seen();
    int taken = ++o->put_calls == o->refuse_at_put ? n / 2 : n;
    o->bytes.insert(o->bytes.end(), static_cast<uint8_t *>(buf), static_cast<uint8_t *>(buf) + taken);
    return taken;
}

void observed_mark(void *context, uint32_t, uint32_t compressed) {
    auto *o = static_cast<observer *>(context);
    o->seen();
    o->marks.push_back(compressed);
}

lzx_data *observed_handle(observer &o) {
    lzx_data *h = nullptr;
    EXPECT_EQ(lzx_init(&h, 15, observed_input, &o, nullptr, observed_output, &o, observed_mark, &o), 0);
    return h;
}

TEST(threads, callbacks_on_the_callers_thread_and_no_thread_outlives_finish) {
    int alone = threads_in_process();
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(threads);
        thread_setting setting(threads);
        observer o;
        o.input_left = 12 * frame + 5;
        lzx_data *h = observed_handle(o);
        while (o.input_left > 0) ASSERT_EQ(lzx_compress_block(h, int(frame), 1), 0);
        lzx_results r{};
        EXPECT_EQ(lzx_finish(h, &r), 0);
        EXPECT_EQ(o.marks.size(), 13u);
        EXPECT_TRUE(o.all_on_caller);
        EXPECT_EQ(threads_after_joins(alone), alone);
        // One thread starts no worker; more start workers, never more than asked.
        EXPECT_EQ(o.most_threads > alone, threads > 1);
        EXPECT_LE(o.most_threads, alone + (threads > 1 ? int(threads) : 0));
    }
}

TEST(threads, refused_output_fails_the_stream_and_stops_the_workers) {
    int alone = threads_in_process();
    observer reference;
    // Enough frames to fill the window of eight threads twice.
    reference.input_left = 40 * frame;
    {
        thread_setting setting(1);
        lzx_data *h = observed_handle(reference);
        while (reference.input_left > 0) ASSERT_EQ(lzx_compress_block(h, int(frame), 1), 0);
        lzx_results r{};
        ASSERT_EQ(lzx_finish(h, &r), 0);
    }
    for (unsigned threads : {1u, 2u, 8u}) {
        SCOPED_TRACE(threads);
        thread_setting setting(threads);
        observer o;
        o.input_left = 40 * frame;
        o.refuse_at_put = 3;
        lzx_data *h = observed_handle(o);
        int calls = 1;
        while (lzx_compress_block(h, int(frame), 1) >= 0 && calls < 40) calls++;
        EXPECT_LT(calls, 40);
        EXPECT_EQ(threads_after_joins(alone), alone);
        EXPECT_LT(lzx_compress_block(h, int(frame), 1), 0);
        lzx_results r{};
        EXPECT_LT(lzx_finish(h, &r), 0);
        // Two whole frames and half the third reached the output, as with one thread.
        EXPECT_EQ(o.put_calls, 3);
        EXPECT_EQ(o.marks, std::vector<uint32_t>(reference.marks.begin(), reference.marks.begin() + 2));
        EXPECT_EQ(r.compressed_length, o.bytes.size());
        ASSERT_LE(o.bytes.size(), reference.bytes.size());
        EXPECT_TRUE(std::equal(o.bytes.begin(), o.bytes.end(), reference.bytes.begin()));
        EXPECT_TRUE(o.all_on_caller);
    }
}

}  // namespace
