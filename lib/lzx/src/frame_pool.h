// A window of frames compressed side by side. The caller fills frames and
// takes them back compressed, both in stream order; worker threads compress
// them meanwhile, or the caller itself when there are none.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "frame_compressor.h"

namespace lzx {

class frame_pool {
  public:
    // threads workers at most, started as frames queue up. With one thread
    // none starts and the window holds one frame, so the caller compresses
    // each frame as soon as it hands it over.
    frame_pool(uint32_t window_bits, unsigned threads);
    ~frame_pool();
    frame_pool(const frame_pool &) = delete;
    frame_pool &operator=(const frame_pool &) = delete;

    // Input of the next frame, frame_size bytes; only while !full().
    uint8_t *next_input();
    // Queues the filled frame for compression.
    void submit(bool split_blocks);
    bool full() const { return submitted_ - delivered_ == slots_.size(); }

    enum class outcome { none, pending, ready, failed };
    // The oldest frame not yet released: none when there is no such frame,
    // pending while it is being compressed (only without wait), failed when
    // compressing it threw. With wait it waits for the oldest, compressing
    // queued frames itself while no worker runs.
    outcome oldest(bool wait, std::vector<uint8_t> *&compressed);
    // The oldest frame has been delivered; its place takes a new frame.
    void release_oldest();
    // Ends and joins the workers; frames still queued are dropped.
    void stop();

  private:
    struct slot {
        std::vector<uint8_t> input;
        std::vector<uint8_t> output;
        bool split_blocks = true;
        bool done = false;
        bool failed = false;
    };

    void start_worker();
    void work(frame_compressor &compressor);
    // Compresses the next queued frame with the lock released meanwhile.
    void compress_next(std::unique_lock<std::mutex> &lock, frame_compressor &compressor);

    uint32_t window_bits_;
    unsigned most_workers_;
    std::vector<slot> slots_;
    std::unique_ptr<frame_compressor> own_compressor_;  // made when first needed
    std::vector<std::unique_ptr<frame_compressor>> worker_compressors_;
    std::vector<std::thread> workers_;

    std::mutex mutex_;
    std::condition_variable work_queued_;
    std::condition_variable frame_done_;
    // Frame counts since the start; a frame's place is its number modulo the
    // window. Only the caller's thread changes submitted_ and delivered_.
    uint64_t submitted_ = 0;
    uint64_t claimed_ = 0;
    uint64_t delivered_ = 0;
    unsigned idle_workers_ = 0;
    bool stopping_ = false;
};

}  // namespace lzx
