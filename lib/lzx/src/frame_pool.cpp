#include "frame_pool.h"

#include <algorithm>
#include <exception>
#include <new>

#include "quiet_thread.h"

namespace lzx {

namespace {
// Frames in flight per thread: one being compressed, one waiting for it.
constexpr unsigned frames_per_thread = 2;
// A frame compresses to a little over its own size at most.
constexpr size_t output_reserve = frame_size + 1024;
}  // namespace

frame_pool::frame_pool(uint32_t window_bits, unsigned threads)
    : window_bits_(window_bits), most_workers_(threads > 1 ? threads : 0) {
    const size_t most_slots = threads > 1 ? size_t(threads) * frames_per_thread : 1;
    slots_.reserve(most_slots);
    free_.reserve(most_slots);
    ring_.assign(most_slots, nullptr);
    // Two frames to begin with: the second one queued brings the first worker.
    add_slots(std::min<size_t>(most_slots, frames_per_thread));
    if (slots_.empty()) throw std::bad_alloc();
    // Never reallocated, so that adding a started thread cannot throw.
    worker_compressors_.reserve(most_workers_);
    workers_.reserve(most_workers_);
}

frame_pool::~frame_pool() { stop(); }

bool frame_pool::add_slots(size_t count) {
    try {
        for (; count > 0 && slots_.size() < ring_.size(); count--) {
            auto s = std::make_unique<slot>();
            // Left untouched until used.
            s->input.reset(new uint8_t[frame_size]);
            s->output.reserve(output_reserve);
            slots_.push_back(std::move(s));
            free_.push_back(slots_.back().get());
        }
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

uint8_t *frame_pool::next_input() { return free_.back()->input.get(); }

void frame_pool::submit(bool split_blocks) {
    slot *filled = free_.back();
    free_.pop_back();
    std::unique_lock<std::mutex> lock(mutex_);
    ring_[submitted_ % ring_.size()] = filled;
    filled->split_blocks = split_blocks;
    filled->done = false;
    filled->failed = false;
    submitted_++;
    // A lone frame (a small input) is compressed by the caller alone.
    bool more_hands_needed = submitted_ - delivered_ > 1 && submitted_ - claimed_ > idle_workers_ &&
                             workers_.size() < most_workers_;
    lock.unlock();
    work_queued_.notify_one();
    if (more_hands_needed) start_worker();
}

void frame_pool::start_worker() {
    // Without memory or threads to spare the frames still get done, by fewer hands.
    try {
        worker_compressors_.push_back(std::make_unique<frame_compressor>(window_bits_));
    } catch (const std::bad_alloc &) {
        most_workers_ = static_cast<unsigned>(workers_.size());
        return;
    }
    if (!add_slots(frames_per_thread)) {
        worker_compressors_.pop_back();
        most_workers_ = static_cast<unsigned>(workers_.size());
        return;
    }
    frame_compressor &compressor = *worker_compressors_.back();
    try {
        workers_.push_back(start_quiet_thread([this, &compressor] { work(compressor); }));
    } catch (const std::exception &) {
        worker_compressors_.pop_back();
        most_workers_ = static_cast<unsigned>(workers_.size());
    }
}

void frame_pool::work(frame_compressor &compressor) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        idle_workers_++;
        work_queued_.wait(lock, [this] { return stopping_ || claimed_ < submitted_; });
        idle_workers_--;
        if (stopping_) return;
        compress(lock, *ring_[claimed_++ % ring_.size()], compressor);
    }
}

void frame_pool::compress(std::unique_lock<std::mutex> &lock, slot &s, frame_compressor &compressor) {
    lock.unlock();
    bool failed = false;
    try {
        s.output.clear();
        compressor.compress(s.input.get(), s.split_blocks, s.output);
    } catch (...) {
        // Nothing may leave a thread; the caller learns it from the frame.
        failed = true;
    }
    lock.lock();
    s.done = true;
    s.failed = failed;
    frame_done_.notify_one();
}

frame_pool::outcome frame_pool::oldest(bool wait, std::vector<uint8_t> *&compressed) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (delivered_ == submitted_) return outcome::none;
    slot &s = *ring_[delivered_ % ring_.size()];
    for (;;) {
        while (!s.done) {
            if (!wait) return outcome::pending;
            // The workers keep the CPUs busy; the caller only waits for them.
            if (!workers_.empty()) {
                frame_done_.wait(lock);
                continue;
            }
            if (!own_compressor_) own_compressor_ = std::make_unique<frame_compressor>(window_bits_);
            claimed_ = std::max(claimed_, delivered_ + 1);
            compress(lock, s, *own_compressor_);
        }
        if (!s.failed || workers_.empty()) break;
        carry_on_alone(lock);
    }
    compressed = &s.output;
    return s.failed ? outcome::failed : outcome::ready;
}

void frame_pool::carry_on_alone(std::unique_lock<std::mutex> &lock) {
    lock.unlock();
    stop();
    // Their memory is what the caller's compressor may need.
    worker_compressors_.clear();
    lock.lock();
    for (uint64_t k = delivered_; k < submitted_; k++) {
        slot &s = *ring_[k % ring_.size()];
        if (s.failed) s.done = false;
        s.failed = false;
    }
    claimed_ = submitted_;
}

void frame_pool::release_oldest() {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(ring_[delivered_ % ring_.size()]);
    delivered_++;
}

void frame_pool::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_queued_.notify_all();
    for (quiet_thread &worker : workers_) worker.join();
    workers_.clear();
    most_workers_ = 0;
}

}  // namespace lzx
