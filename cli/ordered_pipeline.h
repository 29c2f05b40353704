// Produces frames on several threads and hands them on strictly in order, holding at
// most a fixed number of finished frames, so memory stays bounded however long the job.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace nolukey {

// Calls produce(n) for every n in first..last on `threads` worker threads and consume(n, result)
// on the calling thread in increasing n. No more than `window` results wait to be consumed or are
// in production at once. The first exception thrown by either side stops the rest (frames being
// produced finish; no new ones start) and is rethrown here after every worker has joined.
template <class Produce, class Consume>
void RunOrdered(int first, int last, int threads, int window, Produce&& produce, Consume&& consume) {
    using Result = decltype(produce(first));
    threads = std::max(1, threads);
    window = std::max(window, threads);

    std::mutex mutex;
    std::condition_variable changed;
    int nextToClaim = first;
    int nextToConsume = first;
    std::map<int, Result> ready;
    std::exception_ptr failure;
    bool stop = false;

    const auto fail = [&](std::exception_ptr e) {
        std::lock_guard lock(mutex);
        if (!failure) {
            failure = std::move(e);
        }
        stop = true;
        changed.notify_all();
    };

    const auto work = [&] {
        for (;;) {
            int n;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || nextToClaim > last || nextToClaim < nextToConsume + window; });
                if (stop || nextToClaim > last) {
                    return;
                }
                n = nextToClaim++;
            }
            try {
                Result result = produce(n);
                std::lock_guard lock(mutex);
                ready.emplace(n, std::move(result));
                changed.notify_all();
            } catch (...) {
                fail(std::current_exception());
                return;
            }
        }
    };

    std::vector<std::thread> workers;
    workers.reserve(static_cast<std::size_t>(threads));
    try {
        for (int i = 0; i < threads; ++i) {
            workers.emplace_back(work);
        }
        for (int n = first; n <= last; ++n) {
            Result result;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || ready.count(n) != 0; });
                if (stop) {
                    break;
                }
                auto it = ready.find(n);
                result = std::move(it->second);
                ready.erase(it);
                nextToConsume = n + 1;
                changed.notify_all();
            }
            consume(n, std::move(result));
        }
    } catch (...) {
        fail(std::current_exception());
    }
    for (auto& worker : workers) {
        worker.join();
    }
    // Results produced but never consumed are dropped here, on this thread.
    ready.clear();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

}  // namespace nolukey
