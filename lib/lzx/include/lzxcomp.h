/* SPDX-License-Identifier: MIT */
/* Copyright (c) 2026 The kelto authors
 *
 * lzxcomp: an LZX compressor for ITSF/CHM content streams.
 *
 * The caller drives the compressor block by block; the compressor pulls its
 * input and pushes its output through callbacks that run inside these calls,
 * on the caller's thread, in stream order.
 *
 * The input is cut into frames of 32768 bytes, each ending on a 16-bit
 * boundary. The first frame and the first frame after each lzx_reset start a
 * new stream (the decoder resets there); the frames up to the next reset
 * continue it, with matches reaching back into its earlier frames. Call
 * lzx_reset where the container tells the decoder to reset: every reset
 * interval frames, counted from the start. A short read ends the input: the
 * last frame is padded with zero bytes to a whole frame, since decoders
 * always decode whole frames; the padding is never counted as input. When
 * the input fills its last frame exactly, libmspack reads ahead past it:
 * lzx_finish adds two zero bytes where the decoder resets next (lzx_reset
 * was called after the last frame, or the stream is as long as the first
 * one that a reset ended), else a frame of zeros that continues the stream.
 *
 * Spans of up to two frames of one stream are compressed side by side on
 * worker threads, as many as the CPUs the process may run on (at most 16),
 * or as the environment variable LZXCOMP_THREADS says when lzx_init runs; 1
 * starts none and the spans are compressed on the caller's thread. A stream
 * longer than a span goes span after span. The callbacks still run only on the
 * caller's thread, and the stream, the frame marks and the results are the
 * same for every thread count, and on every processor (x86-64 vector
 * instructions, where present, change the speed only). The workers block
 * signals, leaving them to the program's own threads, and are ended by
 * lzx_finish and by any failure after which every call fails.
 */
#ifndef LZXCOMP_H
#define LZXCOMP_H

#include <stdint.h>

/* The library's version: also the shared library's, the pkg-config file's
 * and the CMake package's, which the build reads from here. */
#define LZXCOMP_VERSION_MAJOR 1
#define LZXCOMP_VERSION_MINOR 1
#define LZXCOMP_VERSION_PATCH 1
#define LZXCOMP_STRINGIFY_(x) #x
#define LZXCOMP_STRINGIFY(x) LZXCOMP_STRINGIFY_(x)
#define LZXCOMP_VERSION                                              \
    LZXCOMP_STRINGIFY(LZXCOMP_VERSION_MAJOR) "."                     \
    LZXCOMP_STRINGIFY(LZXCOMP_VERSION_MINOR) "."                     \
    LZXCOMP_STRINGIFY(LZXCOMP_VERSION_PATCH)

/* What the calls return. lzx_init gives 0 on success and 1 on failure, and
 * lzx_compress_block and lzx_finish give 0 on success and -1 on failure:
 * their callers test lzx_init for anything but 0 and the other two for a
 * negative result, so each keeps the values its callers have always tested
 * (zlib's calls likewise each keep their own codes). lzx_reset returns
 * nothing and cannot fail. A failure is never partial: after a failed
 * lzx_compress_block that took bytes it could not keep, every further call
 * fails too, and lzx_finish still releases the handle. */

#ifdef __cplusplus
extern "C" {
#endif

/* Places up to n bytes at buf; returns how many. Fewer than n only when the
 * input has run out. */
typedef int (*lzx_get_bytes_fn)(void *context, int n, void *buf);
/* Nonzero once the input is used up. */
typedef int (*lzx_at_eof_fn)(void *context);
/* Takes n compressed bytes; returns how many it took. */
typedef int (*lzx_put_bytes_fn)(void *context, int n, void *buf);
/* Called at the end of every frame with the uncompressed and compressed
 * stream positions of that end (padding included), that is the start of the
 * next frame: what a ResetTable lists. */
typedef void (*lzx_mark_frame_fn)(void *context, uint32_t uncompressed_position,
                                  uint32_t compressed_position);

typedef struct lzx_results {
    uint64_t compressed_length;   /* bytes delivered through put_bytes */
    uint64_t uncompressed_length; /* bytes taken through get_bytes */
} lzx_results;

typedef struct lzx_data lzx_data;

/* window_bits 15..21. Returns 0 on success, nonzero on failure (bad
 * arguments, no memory). at_eof may be null: short reads tell the end. */
int lzx_init(lzx_data **handle, int window_bits,
             lzx_get_bytes_fn get_bytes, void *get_bytes_context,
             lzx_at_eof_fn at_eof,
             lzx_put_bytes_fn put_bytes, void *put_bytes_context,
             lzx_mark_frame_fn mark_frame, void *mark_frame_context);

/* The next frame starts a new stream: at once when no frame is partly
 * filled, else at the end of the one being filled. */
void lzx_reset(lzx_data *handle);

/* Takes up to block_size bytes of input, in as many frames as they fill; a
 * frame left partly filled waits for the next call. A call that gets no input
 * emits nothing. split_blocks nonzero lets the compressor divide a frame into
 * several blocks where that is smaller. With worker threads the call may
 * return before its frames are compressed: they are delivered, in order, by
 * later calls. Negative on failure: bad arguments, get_bytes returning a
 * negative or too large count, or bytes after a short read that ended the
 * input in mid-frame, and, after which every call fails, put_bytes
 * taking fewer bytes than given or a frame that could not be compressed (no
 * memory); those two are reported by the call that delivers that frame. */
int lzx_compress_block(lzx_data *handle, int block_size, int split_blocks);

/* Compresses a partly filled frame, delivers every frame still in flight,
 * fills results (when given) and releases the handle, its threads ended.
 * Negative when the delivered stream is incomplete (put_bytes failed or a
 * frame could not be compressed) or results is null. */
int lzx_finish(lzx_data *handle, lzx_results *results);

#ifdef __cplusplus
}
#endif

#endif
