// The worker threads of a segment-parallel encoder (internal): jobs are taken
// in the order they were submitted, each by the first free thread.
//
// Destroying the workers drops the jobs no thread has taken and waits for the
// running ones, so an owner keeps them as its last member (destroyed first)
// and tells running jobs to stop before that.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace orvo {

class SegmentWorkers {
  public:
    explicit SegmentWorkers(int threads) {
        for (int i = 0; i < threads; ++i)
            threads_.emplace_back([this] { run(); });
    }
    ~SegmentWorkers() {
        {
            std::lock_guard<std::mutex> lk(m_);
            stopping_ = true;
        }
        work_.notify_all();
        for (auto& t : threads_)
            t.join();
    }
    SegmentWorkers(const SegmentWorkers&) = delete;
    SegmentWorkers& operator=(const SegmentWorkers&) = delete;

    void submit(std::function<void()> job) {
        {
            std::lock_guard<std::mutex> lk(m_);
            jobs_.push_back(std::move(job));
        }
        work_.notify_one();
    }

  private:
    void run() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lk(m_);
                work_.wait(lk, [this] { return stopping_ || !jobs_.empty(); });
                if (stopping_) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    std::mutex m_;
    std::condition_variable work_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace orvo
