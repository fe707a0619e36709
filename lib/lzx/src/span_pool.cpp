#include "span_pool.h"

#include <algorithm>
#include <cassert>
#include <exception>
#include <new>

#include "quiet_thread.h"

namespace lzx {

namespace {
// Spans in flight per thread: one being compressed, one waiting for it.
constexpr unsigned spans_per_thread = 2;
// A span compresses to a little over its own size at most.
constexpr size_t output_reserve = max_span_size + 2048;
}  // namespace

span_pool::span_pool(uint32_t window_bits, unsigned threads)
    : window_bits_(window_bits), most_workers_(threads > 1 ? threads : 0) {
    const size_t most_slots = threads > 1 ? size_t(threads) * spans_per_thread : 1;
    slots_.reserve(most_slots);
    free_.reserve(most_slots);
    ring_.assign(most_slots, nullptr);
    // Two spans to begin with: the second one queued brings the first worker.
    add_slots(std::min<size_t>(most_slots, spans_per_thread));
    if (slots_.empty()) throw std::bad_alloc();
    // Never reallocated, so that adding a started thread cannot throw.
    worker_compressors_.reserve(most_workers_);
    workers_.reserve(most_workers_);
}

span_pool::~span_pool() { stop(); }

bool span_pool::add_slots(size_t count) {
    try {
        for (; count > 0 && slots_.size() < ring_.size(); count--) {
            auto s = std::make_unique<slot>();
            // Left untouched until used.
            s->input.reset(new uint8_t[max_span_size]);
            s->output.bytes.reserve(output_reserve);
            s->output.frame_ends.reserve(max_span_frames);
            slots_.push_back(std::move(s));
            free_.push_back(slots_.back().get());
        }
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

uint8_t *span_pool::next_input() {
    assert(!full());
    return free_.back()->input.get();
}

void span_pool::submit(uint32_t size, bool starts_stream, bool split_blocks) {
    assert(!full() && size > 0 && size % frame_size == 0 && size <= max_span_size);
    slot *filled = free_.back();
    free_.pop_back();
    std::unique_lock<std::mutex> lock(mutex_);
    filled->resume_ready = false;
    if (!starts_stream && submitted_ > 0) {
        // The span before is done, or delivered and its slot reused by this
        // one alone: its end state is still there.
        const slot &before = slot_of(submitted_ - 1);
        if (delivered_ == submitted_ || (before.done && !before.failed)) {
            filled->resume = before.end_state;
            filled->resume_ready = true;
        }
    }
    ring_[submitted_ % ring_.size()] = filled;
    filled->size = size;
    filled->number = submitted_;
    filled->starts_stream = starts_stream || submitted_ == 0;
    filled->split_blocks = split_blocks;
    filled->done = false;
    filled->failed = false;
    submitted_++;
    // A lone span (a small input) is compressed by the caller alone.
    bool more_hands_needed = submitted_ - delivered_ > 1 && submitted_ - claimed_ > idle_workers_ &&
                             workers_.size() < most_workers_;
    lock.unlock();
    work_queued_.notify_one();
    if (more_hands_needed) start_worker();
}

void span_pool::start_worker() {
    // Without memory or threads to spare the spans still get done, by fewer hands.
    try {
        worker_compressors_.push_back(std::make_unique<span_compressor>(window_bits_));
    } catch (const std::bad_alloc &) {
        most_workers_ = static_cast<unsigned>(workers_.size());
        return;
    }
    if (!add_slots(spans_per_thread)) {
        worker_compressors_.pop_back();
        most_workers_ = static_cast<unsigned>(workers_.size());
        return;
    }
    span_compressor &compressor = *worker_compressors_.back();
    try {
        workers_.push_back(start_quiet_thread([this, &compressor] { work(compressor); }));
    } catch (const std::exception &) {
        worker_compressors_.pop_back();
        most_workers_ = static_cast<unsigned>(workers_.size());
    }
}

void span_pool::work(span_compressor &compressor) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        idle_workers_++;
        work_queued_.wait(lock, [this] { return stopping_ || claimed_ < submitted_; });
        idle_workers_--;
        if (stopping_) return;
        slot &s = slot_of(claimed_++);
        // The span before was claimed first, so its state comes.
        if (!s.starts_stream) state_passed_.wait(lock, [this, &s] { return stopping_ || s.resume_ready; });
        if (stopping_) return;
        compress(lock, s, compressor);
    }
}

void span_pool::compress(std::unique_lock<std::mutex> &lock, slot &s, span_compressor &compressor) {
    lock.unlock();
    bool failed = false;
    try {
        s.output.bytes.clear();
        compressor.compress(s.input.get(), s.size, s.starts_stream ? nullptr : &s.resume, s.split_blocks,
                            s.output.bytes);
        s.output.frame_ends = compressor.frame_ends();
        s.end_state = compressor.state();
    } catch (...) {
        // Nothing may leave a thread; the caller learns it from the span.
        failed = true;
    }
    lock.lock();
    s.done = true;
    s.failed = failed;
    if (!failed) pass_state_on(s);
    span_done_.notify_one();
}

void span_pool::pass_state_on(const slot &from) {
    if (from.number + 1 >= submitted_) return;  // handed over at submit instead
    slot &next = slot_of(from.number + 1);
    if (next.starts_stream || next.resume_ready) return;
    next.resume = from.end_state;
    next.resume_ready = true;
    state_passed_.notify_all();
}

span_pool::outcome span_pool::oldest(bool wait, compressed_span *&compressed) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (delivered_ == submitted_) return outcome::none;
    slot &s = slot_of(delivered_);
    for (;;) {
        while (!s.done) {
            if (!wait) return outcome::pending;
            // The workers keep the CPUs busy; the caller only waits for them.
            if (!workers_.empty()) {
                span_done_.wait(lock);
                continue;
            }
            assert(s.starts_stream || s.resume_ready);
            if (!own_compressor_) own_compressor_ = std::make_unique<span_compressor>(window_bits_);
            claimed_ = std::max(claimed_, delivered_ + 1);
            compress(lock, s, *own_compressor_);
        }
        if (!s.failed || workers_.empty()) break;
        carry_on_alone(lock);
    }
    compressed = &s.output;
    return s.failed ? outcome::failed : outcome::ready;
}

void span_pool::carry_on_alone(std::unique_lock<std::mutex> &lock) {
    lock.unlock();
    stop();
    // Their memory is what the caller's compressor may need.
    worker_compressors_.clear();
    lock.lock();
    for (uint64_t k = delivered_; k < submitted_; k++) {
        slot &s = slot_of(k);
        if (s.failed) s.done = false;
        s.failed = false;
    }
    claimed_ = submitted_;
}

void span_pool::release_oldest() {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(&slot_of(delivered_));
    delivered_++;
}

void span_pool::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_queued_.notify_all();
    state_passed_.notify_all();
    for (quiet_thread &worker : workers_) worker.join();
    workers_.clear();
    most_workers_ = 0;
}

}  // namespace lzx
