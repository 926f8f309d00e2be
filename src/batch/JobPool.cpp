#include "batch/JobPool.h"

#include <algorithm>
#include <exception>
#include <optional>

namespace vantorel {

TJobPool::TJobPool(int threads, TWork work) : work_(std::move(work)) {
    for (int i = 0; i < std::max(threads, 1); ++i) {
        threads_.emplace_back([this] { Work(); });
    }
}

TJobPool::~TJobPool() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& t : threads_) {
        t.join();
    }
}

void TJobPool::Submit(TJob job) {
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(std::move(job));
        ++outstanding_;
    }
    wake_.notify_one();
}

std::vector<TJobResult> TJobPool::TakeFinished(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    finished_.wait_for(lock, wait, [this] { return !results_.empty(); });
    std::vector<TJobResult> taken;
    taken.swap(results_);
    outstanding_ -= taken.size();
    return taken;
}

std::size_t TJobPool::Outstanding() const {
    const std::lock_guard lock(mutex_);
    return outstanding_;
}

std::size_t TJobPool::IdleWorkers() const {
    const std::lock_guard lock(mutex_);
    const std::size_t busy = running_.size() + queue_.size();
    return busy >= threads_.size() ? 0 : threads_.size() - busy;
}

std::vector<std::string> TJobPool::Running() const {
    const std::lock_guard lock(mutex_);
    return running_;
}

void TJobPool::Work() {
    for (;;) {
        TJob job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) {
                return;
            }
            job = std::move(queue_.front());
            queue_.pop_front();
            running_.push_back(job.Input.Path);
        }
        TPassRecord record;
        std::optional<std::string> failure;
        try {
            record = work_(job);
        } catch (const std::exception& e) {
            failure = e.what();
        } catch (...) {
            // Anything else would end the process from a worker thread.
            failure = "the run failed for a reason it did not say";
        }
        if (failure) {
            record = TPassRecord{};
            record.Input = job.Input.Path;
            record.Failure = *failure;
        }
        {
            const std::lock_guard lock(mutex_);
            running_.erase(std::find(running_.begin(), running_.end(), job.Input.Path));
            results_.push_back({job.Id, std::move(record)});
        }
        finished_.notify_all();
    }
}

} // namespace vantorel
