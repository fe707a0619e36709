// A window of spans compressed side by side. The caller fills spans and
// takes them back compressed, both in stream order; worker threads compress
// them meanwhile, or the caller itself when there are none.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "quiet_thread.h"
#include "span_compressor.h"

namespace lzx {

// A compressed span: its bytes, and how many of them end each frame.
struct compressed_span {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> frame_ends;
};

class span_pool {
  public:
    // threads workers at most, started as spans queue up. With one thread
    // none starts and the window holds one span, so the caller compresses
    // each span as soon as it hands it over. The window grows by two spans
    // with each worker, its buffers made before the worker starts, so that
    // the caller's thread allocates nothing mid-stream; throws std::bad_alloc
    // when not even one span fits.
    span_pool(uint32_t window_bits, unsigned threads);
    ~span_pool();
    span_pool(const span_pool &) = delete;
    span_pool &operator=(const span_pool &) = delete;

    // Input of the next span, max_span_size bytes; only while !full().
    uint8_t *next_input();
    // Queues the filled span, `size` bytes of whole frames, for compression.
    // A span that does not start a stream goes on from the one before it,
    // which is then compressed first.
    void submit(uint32_t size, bool starts_stream, bool split_blocks);
    bool full() const { return free_.empty(); }

    enum class outcome { none, pending, ready, failed };
    // The oldest span not yet released: none when there is no such span,
    // pending while it is being compressed (only without wait), failed when
    // compressing it threw. With wait it waits for the oldest, compressing
    // it itself while no worker runs. A span that fails on a worker (out of
    // memory, with several compressors alive) ends the workers, and the
    // caller does it and the rest alone; only the caller's own failure counts.
    outcome oldest(bool wait, compressed_span *&compressed);
    // The oldest span has been delivered; its place takes a new span.
    void release_oldest();
    // Ends and joins the workers; spans still queued are dropped.
    void stop();

  private:
    struct slot {
        std::unique_ptr<uint8_t[]> input;  // max_span_size bytes
        uint32_t size = 0;
        uint64_t number = 0;  // place in the stream
        bool starts_stream = true;
        bool split_blocks = true;
        // For a span that goes on with a stream: where the span before left
        // it, once that one is done.
        stream_state resume;
        bool resume_ready = false;
        compressed_span output;
        stream_state end_state;  // where this span leaves the stream
        bool done = false;
        bool failed = false;
    };

    // Makes up to count more slots; false when memory ran out first.
    bool add_slots(size_t count);
    void start_worker();
    void work(span_compressor &compressor);
    // Compresses the span of slot s with the lock released meanwhile.
    void compress(std::unique_lock<std::mutex> &lock, slot &s, span_compressor &compressor);
    // Hands the end state of `from` to the span after it, when that one
    // goes on with the stream and is queued.
    void pass_state_on(const slot &from);
    // After a worker's span failed: the caller does every unfinished span alone.
    void carry_on_alone(std::unique_lock<std::mutex> &lock);
    slot &slot_of(uint64_t number) { return *ring_[number % ring_.size()]; }

    uint32_t window_bits_;
    unsigned most_workers_;
    std::vector<std::unique_ptr<slot>> slots_;
    // Slots the caller's thread may fill next, and the slot of every span
    // in flight: span k's at k modulo the most slots there can be.
    std::vector<slot *> free_;
    std::vector<slot *> ring_;
    std::unique_ptr<span_compressor> own_compressor_;  // made when first needed
    std::vector<std::unique_ptr<span_compressor>> worker_compressors_;
    std::vector<quiet_thread> workers_;

    std::mutex mutex_;
    std::condition_variable work_queued_;
    std::condition_variable state_passed_;  // to a span that goes on with a stream
    std::condition_variable span_done_;
    // Span counts since the start. Only the caller's thread changes
    // submitted_, delivered_ and free_.
    uint64_t submitted_ = 0;
    uint64_t claimed_ = 0;
    uint64_t delivered_ = 0;
    unsigned idle_workers_ = 0;
    bool stopping_ = false;
};

}  // namespace lzx
