#include "engine/convert/encoder_queue.h"

#include "engine/convert/mp3_encoding.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace kestrel {

namespace {

// -1: not decided yet (the environment decides on first use).
std::atomic<int> g_threadOn{-1};

// What stopped the encoding of `state`: the errno of a failed write, or
// kEncoderFailed when the encoder refused a block.
int failureOf(const Mp3EncoderState& state) {
    if (state.encodeFailed) return kEncoderFailed;
    return state.writeErrno ? state.writeErrno : EIO;
}

} // namespace

bool encoder_thread_enabled() {
    int on = g_threadOn.load();
    if (on < 0) {
        const char* v = std::getenv("KESTREL_ENCODER_THREAD");
        on = v && std::strcmp(v, "0") == 0 ? 0 : 1;
        g_threadOn.store(on);
    }
    return on != 0;
}

void set_encoder_thread_enabled(bool on) {
    g_threadOn.store(on ? 1 : 0);
}

EncoderQueue::EncoderQueue() : slots_(kSlots) {}

EncoderQueue::~EncoderQueue() {
    drain();
}

int EncoderQueue::push(Mp3EncoderState& state, const uint8_t* block, int len) {
    if (len <= 0) return 0;
    std::unique_lock<std::mutex> lk(m_);
    if (failure_) return -1;
    if (thread_.joinable() && &state != state_) {
        // Another output: the blocks of the last one go first.
        lk.unlock();
        (void)drain();
        lk.lock();
    }
    if (!thread_.joinable()) {
        state_ = &state;
        head_ = 0;
        count_ = 0;
        closing_ = false;
        taken_ = 0;
        encoded_ = 0;
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // No thread to be had: this block is encoded here, as on the
            // one-thread path.
            lk.unlock();
            const int rc = mp3EncodeBlock(state, block, len, mp3WriteToFile, &state);
            if (rc >= 0 && !state.writeFailed) return 0;
            lk.lock();
            failure_ = failureOf(state);
            return -1;
        }
    }
    if (count_ == kSlots) {
        // Full: wait until half of it is done, so that the two threads wake
        // each other once every few blocks rather than at every block.
        space_.wait(lk, [this] { return count_ <= kSlots / 2 || failure_ != 0; });
    }
    if (failure_) return -1;
    std::vector<uint8_t>& slot = slots_[static_cast<size_t>((head_ + count_) % kSlots)];
    slot.assign(block, block + len);
    taken_ += static_cast<uint64_t>(len);
    const bool wake = count_++ == 0; // the encoder thread may be waiting
    // Woken after the lock is let go, so that it does not wake only to wait
    // for the lock.
    lk.unlock();
    if (wake) ready_.notify_one();
    return 0;
}

void EncoderQueue::run() {
    std::unique_lock<std::mutex> lk(m_);
    for (;;) {
        ready_.wait(lk, [this] { return count_ > 0 || closing_; });
        if (count_ == 0) break; // asked to end, and everything is done
        std::vector<uint8_t>& slot = slots_[static_cast<size_t>(head_)];
        const bool dropping = failure_ != 0;
        int err = 0;
        if (!dropping) {
            lk.unlock();
            // The slot stays counted while it is encoded, so it is not reused.
            const int rc = mp3EncodeBlock(*state_, slot.data(), static_cast<int>(slot.size()),
                                          mp3WriteToFile, state_);
            if (rc < 0 || state_->writeFailed) err = failureOf(*state_);
            lk.lock();
            if (err) {
                failure_ = err;
                // The blocks before this one whose frames the failed run held
                // were not written either.
                const uint64_t before =
                    state_->lostPcm > slot.size() ? state_->lostPcm - slot.size() : 0;
                encoded_ -= before < encoded_ ? before : encoded_;
                space_.notify_one(); // a waiting push() returns at once
            } else {
                encoded_ += slot.size();
            }
        }
        head_ = (head_ + 1) % kSlots;
        if (--count_ == kSlots / 2) {
            // As in push(): the reading thread is woken with the lock free.
            lk.unlock();
            space_.notify_one();
            lk.lock();
        }
    }
}

EncoderQueue::Drained EncoderQueue::drain() {
    std::unique_lock<std::mutex> lk(m_);
    if (thread_.joinable()) {
        closing_ = true;
        ready_.notify_one();
        lk.unlock();
        thread_.join();
        lk.lock();
    }
    Drained d;
    d.failure = failure_;
    d.notEncoded = taken_ - encoded_;
    failure_ = 0;
    closing_ = false;
    taken_ = 0;
    encoded_ = 0;
    state_ = nullptr;
    return d;
}

int EncoderQueue::failure() const {
    std::lock_guard<std::mutex> lk(m_);
    return failure_;
}

bool EncoderQueue::running() const {
    std::lock_guard<std::mutex> lk(m_);
    return thread_.joinable();
}

EncoderQueue& encoderQueue() {
    static EncoderQueue queue;
    return queue;
}

} // namespace kestrel
