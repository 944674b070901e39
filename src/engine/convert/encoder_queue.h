// The MP3 encoder's own thread: the PCM stage hands each block of an MP3
// output to a small bounded queue, and one encoder thread encodes the blocks
// in order and writes their frames, so that reading, decoding and the rate
// change of the next block overlap the encoding of this one. The bytes written
// are those of encoding on the reading thread.
//
// The queue holds copies of the blocks. The thread is started by an output's
// first block and ended by drain(), which every finish of an output (flush,
// tag, close) waits for; while it runs, it alone calls the encoder and writes
// the output's stream, and nothing else touches them. The library allows one
// encoder per process, so there is one queue (encoderQueue()).
//
// A failed write is seen by the encoder thread: it drops the blocks queued
// behind it (the one-thread path would not have read them), and the next
// push() and drain() report it, so that the reading loop ends the entry at its
// next block.
//
// Threading: push() and drain() are called by the conversion thread only.
#pragma once

#include "engine/convert/mp3_encoding.h"

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrel {

// Whether MP3 outputs are encoded on the encoder thread. On by default; the
// environment variable KESTREL_ENCODER_THREAD=0 turns it off for the process,
// so that everything is encoded on the reading thread.
bool encoder_thread_enabled();
void set_encoder_thread_enabled(bool on);

class EncoderQueue {
  public:
    // Blocks held at most, the one being encoded included.
    static constexpr int kSlots = 32;

    EncoderQueue();
    ~EncoderQueue();
    EncoderQueue(const EncoderQueue&) = delete;
    EncoderQueue& operator=(const EncoderQueue&) = delete;

    // Queues a copy of one block of 16-bit PCM for the output of `state`, starting the
    // encoder thread when none runs; waits while the queue is full. Returns 0
    // when the block was taken, -1 when a write of this output or its encoder
    // has failed (the block is not taken; failure() gives the errno, or
    // kEncoderFailed).
    int push(Mp3EncoderState& state, const uint8_t* block, int len);

    struct Drained {
        int failure = 0;         // errno of the failed write, kEncoderFailed, 0 when none
        uint64_t notEncoded = 0; // PCM bytes taken but not written: the failed
                                 // block and those dropped behind it
    };
    // Waits until every block taken has been encoded (or dropped after a
    // failed write) and ends the thread; the encoder and the stream are then
    // the caller's again. Clears the failure for the next output. Without a
    // thread running it returns at once.
    Drained drain();

    // errno of the failed write of the current output, 0 when none.
    int failure() const;
    // True while the encoder thread runs.
    bool running() const;

  private:
    void run();

    mutable std::mutex m_;
    std::condition_variable ready_; // a block was queued, or drain() asks to end
    std::condition_variable space_; // a slot came free
    std::vector<std::vector<uint8_t>> slots_;
    int head_ = 0;  // oldest queued block
    int count_ = 0; // queued blocks, the one being encoded included
    bool closing_ = false;
    int failure_ = 0;
    uint64_t taken_ = 0;               // PCM bytes queued since the thread started
    uint64_t encoded_ = 0;             // PCM bytes encoded, their frames not lost
    Mp3EncoderState* state_ = nullptr; // the encoder of the output being written
    std::thread thread_;
};

// The process's one encoder queue.
EncoderQueue& encoderQueue();

} // namespace kestrel
