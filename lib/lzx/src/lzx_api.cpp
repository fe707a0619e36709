// The C interface: pulls input in frames, has each frame compressed on its
// own (side by side when there are threads to spare) and delivers the frames
// through the callbacks in stream order, always on the caller's thread.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "frame_pool.h"
#include "lzxcomp.h"
#include "thread_count.h"

struct lzx_data {
    lzx_get_bytes_fn get_bytes;
    void *get_bytes_context;
    lzx_put_bytes_fn put_bytes;
    void *put_bytes_context;
    lzx_mark_frame_fn mark_frame;
    void *mark_frame_context;

    std::unique_ptr<lzx::frame_pool> frames;
    uint32_t frame_fill = 0;  // bytes in the frame being filled
    uint64_t uncompressed_length = 0;
    uint64_t compressed_length = 0;
    uint64_t frames_done = 0;
    bool padded = false;      // a frame went out padded: the input has ended
    bool broken = false;      // a frame was refused or lost: the stream cannot be completed
    bool split_blocks = true; // as last asked for
};

namespace {

// From here on every call fails; no worker is left running.
int give_up(lzx_data &h) {
    h.broken = true;
    h.frames->stop();
    return -1;
}

// Hands bytes to put_bytes and counts what it took; false when it took fewer.
bool deliver(lzx_data &h, uint8_t *bytes, int size) {
    int taken = h.put_bytes(h.put_bytes_context, size, bytes);
    if (taken > 0) h.compressed_length += static_cast<uint64_t>(taken > size ? size : taken);
    return taken == size;
}

// Delivers compressed frames in stream order: those already done, then,
// while the window is full, the oldest as soon as it is done; with drain
// every frame still in flight.
int deliver_frames(lzx_data &h, bool drain) {
    for (;;) {
        std::vector<uint8_t> *compressed = nullptr;
        auto outcome = h.frames->oldest(drain || h.frames->full(), compressed);
        if (outcome == lzx::frame_pool::outcome::none || outcome == lzx::frame_pool::outcome::pending) return 0;
        if (outcome == lzx::frame_pool::outcome::failed) return give_up(h);
        // A frame compresses to a little over 32 KB at most.
        if (!deliver(h, compressed->data(), static_cast<int>(compressed->size()))) return give_up(h);
        h.frames->release_oldest();
        h.frames_done++;
        if (h.mark_frame)
            h.mark_frame(h.mark_frame_context, static_cast<uint32_t>(h.frames_done * lzx::frame_size),
                         static_cast<uint32_t>(h.compressed_length));
    }
}

// Zero-pads the frame being filled and hands it over for compression.
int flush_frame(lzx_data &h) {
    if (h.frame_fill == 0) return 0;
    uint8_t *frame = h.frames->next_input();
    if (h.frame_fill < lzx::frame_size) h.padded = true;
    std::memset(frame + h.frame_fill, 0, lzx::frame_size - h.frame_fill);
    h.frame_fill = 0;
    h.frames->submit(h.split_blocks);
    return deliver_frames(h, false);
}

int compress_input(lzx_data &h, int block_size) {
    int remaining = block_size;
    while (remaining > 0) {
        int want = static_cast<int>(lzx::frame_size - h.frame_fill);
        if (want > remaining) want = remaining;
        // The window has room: delivery left it so.
        uint8_t *frame = h.frames->next_input();
        int got = h.get_bytes(h.get_bytes_context, want, frame + h.frame_fill);
        // Bytes after a padded frame would decode after its padding, at the
        // wrong place: refused like any other bad count.
        if (got < 0 || got > want || (got > 0 && h.padded)) return -1;
        h.frame_fill += static_cast<uint32_t>(got);
        h.uncompressed_length += static_cast<uint64_t>(got);
        remaining -= got;
        if (h.frame_fill == lzx::frame_size || got < want) {
            if (flush_frame(h) < 0) return -1;
        }
        if (got < want) break;  // the input has ended
    }
    return 0;
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
        h->frames = std::make_unique<lzx::frame_pool>(static_cast<uint32_t>(window_bits), lzx::thread_count());
        *handle = h.release();
        return 0;
    } catch (const std::bad_alloc &) {
        return 1;
    }
}

void lzx_reset(lzx_data *handle) {
    // Every frame starts from a reset anyway; nothing to do.
    (void)handle;
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
    // A caller whose block sizes are not whole frames may leave a partial one.
    if (!h->broken) {
        try {
            status = flush_frame(*h);
            if (status == 0) status = deliver_frames(*h, true);
        } catch (const std::bad_alloc &) {
            status = give_up(*h);
        }
    }
    // libmspack reads two bytes past a stream that ends exactly on a frame
    // boundary and fails at the end of the file; 7-Zip accepts such a tail
    // after the last frame.
    if (!h->broken && h->uncompressed_length % lzx::frame_size == 0 && h->uncompressed_length > 0) {
        uint8_t tail[2] = {0, 0};
        if (!deliver(*h, tail, 2)) h->broken = true;
    }
    if (h->broken) status = -1;
    if (results == nullptr) return -1;
    results->compressed_length = h->compressed_length;
    results->uncompressed_length = h->uncompressed_length;
    return status;
}

}  // extern "C"
