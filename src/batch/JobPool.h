#pragma once

// A fixed number of threads running batch inputs. Work is handed in and results taken
// out by one thread (the command's); each input runs wholly on one worker.

#include "batch/Inputs.h"
#include "batch/PassRecord.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantorel {

/// One input's work.
struct TJob {
    std::size_t Id = 0; ///< the submitter's number for it
    TBatchInput Input;
    std::string Target; ///< the picture planned for it; "" to name it after the run
    /// The picture there is this input's own from an earlier run: it is replaced.
    bool Replace = false;
};

/// What became of a job.
struct TJobResult {
    std::size_t Id = 0;
    TPassRecord Record;
};

class TJobPool {
public:
    /// What a worker does with an input; an exception it lets out fails that input alone.
    using TWork = std::function<TPassRecord(const TJob&)>;

    /// threads: at least 1.
    TJobPool(int threads, TWork work);
    /// Waits for the inputs that are running; those not started are dropped.
    ~TJobPool();
    TJobPool(const TJobPool&) = delete;
    TJobPool& operator=(const TJobPool&) = delete;

    void Submit(TJob job);
    /// The results finished since the last call, waiting up to `wait` for the first one.
    std::vector<TJobResult> TakeFinished(std::chrono::milliseconds wait);
    /// Inputs submitted whose results have not been taken yet.
    std::size_t Outstanding() const;
    /// Workers with nothing to do.
    std::size_t IdleWorkers() const;
    /// The inputs running now.
    std::vector<std::string> Running() const;

private:
    void Work();

    TWork work_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;     ///< for the workers: work, or the end
    std::condition_variable finished_; ///< for the taker: a result
    std::deque<TJob> queue_;
    std::vector<std::string> running_;
    std::vector<TJobResult> results_;
    std::size_t outstanding_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace vantorel
