#include "common/Parallel.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace vantorel {

namespace {

// One RunParts call: its parts are taken one at a time by whichever thread comes first.
struct TPartsCall {
    const std::function<void(int)>* part = nullptr;
    int parts = 0;
    int taken = 0; // under the pool's lock
    int done = 0;  // likewise
    std::condition_variable finished;
};

class TWorkPool {
public:
    TWorkPool() {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 1; i < std::min(cores, 8u); ++i) {
            workers_.emplace_back([this] { Work(); });
        }
    }

    ~TWorkPool() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : workers_) {
            t.join();
        }
    }

    void Run(int parts, const std::function<void(int)>& part) {
        TPartsCall call;
        call.part = &part;
        call.parts = parts;
        std::unique_lock<std::mutex> lock(mutex_);
        queue_.push_back(&call);
        wake_.notify_all();
        // This thread takes parts of its own call only. A part of another, taken while it
        // waits, may wait in turn on what this thread's caller holds: a thread reading the
        // boundaries took a part that waited for the boundaries to be read.
        while (call.done < call.parts) {
            if (call.taken < call.parts) {
                RunOne(call, lock);
            } else {
                call.finished.wait(lock);
            }
        }
    }

private:
    // The oldest call with parts not yet taken (a call leaves the queue when its last
    // part is taken, before its caller may return).
    TPartsCall* Front() { return queue_.empty() ? nullptr : queue_.front(); }

    void RunOne(TPartsCall& call, std::unique_lock<std::mutex>& lock) {
        const int index = call.taken++;
        if (call.taken == call.parts) {
            queue_.erase(std::find(queue_.begin(), queue_.end(), &call));
        }
        lock.unlock();
        (*call.part)(index); // parts catch their own exceptions (ForEachPart)
        lock.lock();
        if (++call.done == call.parts) {
            call.finished.notify_all();
        }
    }

    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (TPartsCall* call = Front()) {
                RunOne(*call, lock);
            } else if (stopping_) {
                return;
            } else {
                wake_.wait(lock);
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<TPartsCall*> queue_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

} // namespace

namespace {

std::mutex poolMutex;
std::unique_ptr<TWorkPool> pool;
bool stopped = false;

TWorkPool* Workers() {
    const std::lock_guard<std::mutex> lock(poolMutex);
    if (!pool && !stopped) {
        pool = std::make_unique<TWorkPool>();
    }
    return pool.get();
}

} // namespace

void YieldCoresToOthers() {
#if defined(__linux__)
    // A thread's own niceness: on Linux it is set by its thread id. Advice only.
    constexpr int kLater = 10; // a tenth of a busy core's share
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kLater);
#endif
}

void StartParts() {
    Workers();
}

void RunParts(int parts, const std::function<void(int)>& part) {
    TWorkPool* const workers = parts > 1 ? Workers() : nullptr;
    if (workers == nullptr) {
        for (int i = 0; i < parts; ++i) {
            part(i);
        }
        return;
    }
    workers->Run(parts, part);
}

void StopParts() {
    std::unique_ptr<TWorkPool> ending;
    {
        const std::lock_guard<std::mutex> lock(poolMutex);
        stopped = true;
        ending = std::move(pool);
    }
}

} // namespace vantorel
