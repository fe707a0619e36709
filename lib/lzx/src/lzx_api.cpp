// The C interface: pulls input in spans of one or two frames, has each span
// compressed on its own (side by side when there are threads to spare) and
// delivers the frames through the callbacks in stream order, always on the
// caller's thread.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "lzxcomp.h"
#include "span_pool.h"
#include "thread_count.h"

struct lzx_data {
    lzx_get_bytes_fn get_bytes;
    void *get_bytes_context;
    lzx_put_bytes_fn put_bytes;
    void *put_bytes_context;
    lzx_mark_frame_fn mark_frame;
    void *mark_frame_context;

    std::unique_ptr<lzx::span_pool> spans;
    uint32_t span_fill = 0;          // bytes in the span being filled; its last frame may be partial
    bool span_starts_stream = true;  // the span being filled starts a stream
    bool reset_asked = true;         // the next frame starts a stream: nothing sent yet, or lzx_reset
    uint64_t uncompressed_length = 0;
    uint64_t compressed_length = 0;
    uint64_t frames_fed = 0;       // frames of input handed over, the padding frame not counted
    uint64_t frames_done = 0;      // of those, delivered and marked
    uint64_t stream_frames = 0;    // frames since the stream last started
    uint64_t unit_frames = 0;      // frames of the first stream that a reset ended; 0 while none has
    bool padded = false;      // a frame went out padded: the input has ended
    bool broken = false;      // a span was refused or lost: the stream cannot be completed
    bool split_blocks = true; // as last asked for
};

namespace {

// From here on every call fails; no worker is left running.
int give_up(lzx_data &h) {
    h.broken = true;
    h.spans->stop();
    return -1;
}

// Hands bytes to put_bytes and counts what it took; false when it took fewer.
bool deliver(lzx_data &h, uint8_t *bytes, int size) {
    int taken = h.put_bytes(h.put_bytes_context, size, bytes);
    if (taken > 0) h.compressed_length += static_cast<uint64_t>(taken > size ? size : taken);
    return taken == size;
}

// Delivers a compressed span frame by frame, marking the end of each.
bool deliver_span(lzx_data &h, lzx::compressed_span &span) {
    uint32_t from = 0;
    for (uint32_t end : span.frame_ends) {
        // A frame compresses to a little over 32 KB at most.
        if (!deliver(h, span.bytes.data() + from, static_cast<int>(end - from))) return false;
        from = end;
        if (h.frames_done == h.frames_fed) continue;  // the padding frame has no mark
        h.frames_done++;
        if (h.mark_frame)
            h.mark_frame(h.mark_frame_context, static_cast<uint32_t>(h.frames_done * lzx::frame_size),
                         static_cast<uint32_t>(h.compressed_length));
    }
    return true;
}

// Delivers compressed spans in stream order: those already done, then,
// while the window is full, the oldest as soon as it is done; with drain
// every span still in flight.
int deliver_spans(lzx_data &h, bool drain) {
    for (;;) {
        lzx::compressed_span *compressed = nullptr;
        auto outcome = h.spans->oldest(drain || h.spans->full(), compressed);
        if (outcome == lzx::span_pool::outcome::none || outcome == lzx::span_pool::outcome::pending) return 0;
        if (outcome == lzx::span_pool::outcome::failed) return give_up(h);
        if (!deliver_span(h, *compressed)) return give_up(h);
        h.spans->release_oldest();
    }
}

// Zero-pads the last frame of the span being filled and hands the span
// over for compression.
int flush_span(lzx_data &h) {
    if (h.span_fill == 0) return 0;
    const uint32_t partial = h.span_fill % lzx::frame_size;
    if (partial != 0) {
        h.padded = true;
        std::memset(h.spans->next_input() + h.span_fill, 0, lzx::frame_size - partial);
        h.span_fill += lzx::frame_size - partial;
    }
    const uint32_t frames = h.span_fill / lzx::frame_size;
    if (h.span_starts_stream) {
        if (h.unit_frames == 0 && h.stream_frames > 0) h.unit_frames = h.stream_frames;
        h.stream_frames = 0;
    }
    h.stream_frames += frames;
    h.frames_fed += frames;
    h.spans->submit(h.span_fill, h.span_starts_stream, h.split_blocks);
    h.span_fill = 0;
    return deliver_spans(h, false);
}

// At a frame boundary: the span ends when it is full or when the next frame
// starts a stream.
int end_span_if_due(lzx_data &h) {
    if (h.span_fill == 0 || h.span_fill % lzx::frame_size != 0) return 0;
    if (h.span_fill < lzx::max_span_size && !h.reset_asked) return 0;
    return flush_span(h);
}

int compress_input(lzx_data &h, int block_size) {
    int remaining = block_size;
    while (remaining > 0) {
        if (end_span_if_due(h) < 0) return -1;
        int want = static_cast<int>(lzx::frame_size - h.span_fill % lzx::frame_size);
        if (want > remaining) want = remaining;
        // The window has room: delivery left it so.
        uint8_t *span = h.spans->next_input();
        int got = h.get_bytes(h.get_bytes_context, want, span + h.span_fill);
        // Bytes after a padded frame would decode after its padding, at the
        // wrong place: refused like any other bad count.
        if (got < 0 || got > want || (got > 0 && h.padded)) return -1;
        if (h.span_fill == 0 && got > 0) {
            h.span_starts_stream = h.reset_asked;
            h.reset_asked = false;
        }
        h.span_fill += static_cast<uint32_t>(got);
        h.uncompressed_length += static_cast<uint64_t>(got);
        remaining -= got;
        if (got < want) return flush_span(h);  // the input has ended
    }
    // A full span goes to the workers at once.
    return end_span_if_due(h);
}

// Decoders read on past a stream that ends exactly on a frame boundary:
// libmspack decodes the frame after it. When a reset comes there (the last
// unit is whole), two zero bytes are enough for it and 7-Zip accepts them;
// otherwise it goes on with the stream, so a frame of zeros continuing the
// stream follows, with no mark (it holds no input). Only the caller knows
// its unit: the last one is whole when lzx_reset was called after it, or
// when it is as long as the first unit that a reset ended.
int end_stream(lzx_data &h) {
    if (h.uncompressed_length == 0 || h.uncompressed_length % lzx::frame_size != 0) return 0;
    if (h.reset_asked || (h.unit_frames != 0 && h.stream_frames % h.unit_frames == 0)) {
        uint8_t tail[2] = {0, 0};
        return deliver(h, tail, 2) ? 0 : -1;
    }
    std::memset(h.spans->next_input(), 0, lzx::frame_size);
    h.spans->submit(lzx::frame_size, false, h.split_blocks);
    return deliver_spans(h, true);
}

}  // namespace

extern "C" {

int lzx_init(lzx_data **handle, int window_bits, lzx_get_bytes_fn get_bytes, void *get_bytes_context,
             lzx_at_eof_fn at_eof, lzx_put_bytes_fn put_bytes, void *put_bytes_context,
             lzx_mark_frame_fn mark_frame, void *mark_frame_context) {
    (void)at_eof;  // a short read already tells the end of the input
    if (handle == nullptr) return 1;
    *handle = nullptr;
    if (window_bits < 15 || window_bits > 21 || get_bytes == nullptr || put_bytes == nullptr) return 1;
    try {
        auto h = std::make_unique<lzx_data>();
        h->get_bytes = get_bytes;
        h->get_bytes_context = get_bytes_context;
        h->put_bytes = put_bytes;
        h->put_bytes_context = put_bytes_context;
        h->mark_frame = mark_frame;
        h->mark_frame_context = mark_frame_context;
        h->spans = std::make_unique<lzx::span_pool>(static_cast<uint32_t>(window_bits), lzx::thread_count());
        *handle = h.release();
        return 0;
    } catch (const std::bad_alloc &) {
        return 1;
    }
}

void lzx_reset(lzx_data *handle) {
    // Takes effect at the next frame boundary, where decoders reset; the
    // span before it goes out with the next call.
    if (handle != nullptr) handle->reset_asked = true;
}

int lzx_compress_block(lzx_data *handle, int block_size, int split_blocks) {
    if (handle == nullptr || block_size <= 0 || handle->broken) return -1;
    try {
        handle->split_blocks = split_blocks != 0;
        return compress_input(*handle, block_size);
    } catch (const std::bad_alloc &) {
        return give_up(*handle);
    }
}

int lzx_finish(lzx_data *handle, lzx_results *results) {
    if (handle == nullptr) return -1;
    std::unique_ptr<lzx_data> h(handle);
    int status = 0;
    // A caller whose block sizes are not whole spans may leave a partial one.
    if (!h->broken) {
        try {
            status = flush_span(*h);
            if (status == 0) status = deliver_spans(*h, true);
            if (status == 0 && end_stream(*h) < 0) h->broken = true;
        } catch (const std::bad_alloc &) {
            status = give_up(*h);
        }
    }
    if (h->broken) status = -1;
    if (results == nullptr) return -1;
    results->compressed_length = h->compressed_length;
    results->uncompressed_length = h->uncompressed_length;
    return status;
}

}  // extern "C"
