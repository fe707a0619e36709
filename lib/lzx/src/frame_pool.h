// A window of frames compressed side by side. The caller fills frames and
// takes them back compressed, both in stream order; worker threads compress
// them meanwhile, or the caller itself when there are none.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "frame_compressor.h"
#include "quiet_thread.h"

namespace lzx {

class frame_pool {
  public:
    // threads workers at most, started as frames queue up. With one thread
    // none starts and the window holds one frame, so the caller compresses
    // each frame as soon as it hands it over. The window grows by two frames
    // with each worker, its buffers made before the worker starts, so that
    // the caller's thread allocates nothing mid-stream; throws std::bad_alloc
    // when not even one frame fits.
    frame_pool(uint32_t window_bits, unsigned threads);
    ~frame_pool();
    frame_pool(const frame_pool &) = delete;
    frame_pool &operator=(const frame_pool &) = delete;

    // Input of the next frame, frame_size bytes; only while !full().
    uint8_t *next_input();
    // Queues the filled frame for compression.
    void submit(bool split_blocks);
    bool full() const { return free_.empty(); }

    enum class outcome { none, pending, ready, failed };
    // The oldest frame not yet released: none when there is no such frame,
    // pending while it is being compressed (only without wait), failed when
    // compressing it threw. With wait it waits for the oldest, compressing
    // it itself while no worker runs. A frame that fails on a worker (out of
    // memory, with several compressors alive) ends the workers, and the
    // caller does it and the rest alone; only the caller's own failure counts.
    outcome oldest(bool wait, std::vector<uint8_t> *&compressed);
    // The oldest frame has been delivered; its place takes a new frame.
    void release_oldest();
    // Ends and joins the workers; frames still queued are dropped.
    void stop();

  private:
    struct slot {
        std::unique_ptr<uint8_t[]> input;  // frame_size bytes
        std::vector<uint8_t> output;
        bool split_blocks = true;
        bool done = false;
        bool failed = false;
    };

    // Makes up to count more slots; false when memory ran out first.
    bool add_slots(size_t count);
    void start_worker();
    void work(frame_compressor &compressor);
    // Compresses the frame of slot s with the lock released meanwhile.
    void compress(std::unique_lock<std::mutex> &lock, slot &s, frame_compressor &compressor);
    // After a worker's frame failed: the caller does every unfinished frame alone.
    void carry_on_alone(std::unique_lock<std::mutex> &lock);

    uint32_t window_bits_;
    unsigned most_workers_;
    std::vector<std::unique_ptr<slot>> slots_;
    // Slots the caller's thread may fill next, and the slot of every frame
    // in flight: frame k's at k modulo the most slots there can be.
    std::vector<slot *> free_;
    std::vector<slot *> ring_;
    std::unique_ptr<frame_compressor> own_compressor_;  // made when first needed
    std::vector<std::unique_ptr<frame_compressor>> worker_compressors_;
    std::vector<quiet_thread> workers_;

    std::mutex mutex_;
    std::condition_variable work_queued_;
    std::condition_variable frame_done_;
    // Frame counts since the start. Only the caller's thread changes
    // submitted_, delivered_ and free_.
    uint64_t submitted_ = 0;
    uint64_t claimed_ = 0;
    uint64_t delivered_ = 0;
    unsigned idle_workers_ = 0;
    bool stopping_ = false;
};

}  // namespace lzx
