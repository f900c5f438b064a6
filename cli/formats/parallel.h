// Work that is independent per item, run on a few threads: a large drawing's shapes are read,
// dashed and written this way. Whatever the threads' timing, the results are those of one
// thread: each item's work depends on the item alone, what is gathered is gathered in item
// order, and the failure of the lowest item is the one rethrown.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace korrand::io {

// The most threads ThreadsFor gives.
constexpr unsigned kMaxThreads = 8;

// The threads for n items, of which a thread should get at least `perThread`: one for a small
// job (starting threads would cost more than it saves), else one per core, at most 8.
inline unsigned ThreadsFor(std::size_t n, std::size_t perThread) {
    if (n < 2 * perThread) return 1;
    return std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
}

// Runs work(i, thread) for every i in [0, n) on `threads` threads (thread numbers 0 .. threads-1,
// 0 the caller's), in chunks of `chunk` items taken in order. Every item before a failing one is
// done, and the failure of the lowest item is rethrown.
template <class Work>
void ForEachInParallel(std::size_t n, unsigned threads, std::size_t chunk, const Work& work) {
    threads = std::max(1u, threads);
    chunk = std::max<std::size_t>(1, chunk);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::vector<std::pair<std::size_t, std::exception_ptr>> failures(threads,
                                                                     {n, std::exception_ptr()});
    const auto run = [&](unsigned t) {
        // Chunks are finished once taken, so the lowest failure is found whatever the timing.
        while (!failed.load(std::memory_order_relaxed)) {
            const std::size_t first = next.fetch_add(chunk);
            if (first >= n) return;
            for (std::size_t i = first; i < std::min(n, first + chunk); ++i) {
                try {
                    work(i, t);
                } catch (...) {
                    failures[t] = {i, std::current_exception()};
                    failed = true;
                    return;
                }
            }
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(run, t);
    run(0);
    for (std::thread& t : pool) t.join();
    const auto first =
        std::min_element(failures.begin(), failures.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    if (first->second) std::rethrow_exception(first->second);
}

// Text made in pieces on `threads` threads and handed on in order: produce(i, thread, text) makes
// piece i on any thread, consume(i, text) takes it on the calling thread, for i = 0, 1, ... n-1.
// The caller makes pieces too while it waits for the next one, each piece is let go once
// consumed, and the other threads make none more than a few ahead of the one consumed, so only
// a few pieces are held whatever the threads' speeds. A failure to produce piece i is rethrown
// when its turn comes, after the pieces before it were consumed.
template <class Produce, class Consume>
void ProduceInOrder(std::size_t n, unsigned threads, const Produce& produce,
                    const Consume& consume) {
    threads = std::max(1u, threads);
    std::vector<std::string> pieces(n);
    std::vector<std::exception_ptr> failures(n);
    std::vector<char> done(n, 0);  // guarded by `lock`
    std::size_t consumed = 0;      // guarded by `lock`
    const std::size_t window = 4 * static_cast<std::size_t>(threads);
    std::mutex lock;
    std::condition_variable madeOne, tookOne;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};  // set under `lock`
    // Makes the next piece not yet taken; false when none is left.
    const auto makeOne = [&](unsigned t) {
        if (stop.load(std::memory_order_relaxed)) return false;
        const std::size_t i = next.fetch_add(1);
        if (i >= n) return false;
        try {
            produce(i, t, pieces[i]);
        } catch (...) {
            failures[i] = std::current_exception();
        }
        {
            const std::lock_guard<std::mutex> guard(lock);
            done[i] = 1;
        }
        madeOne.notify_all();
        return true;
    };
    std::vector<std::thread> pool;
    struct Joiner {
        std::atomic<bool>& stop;
        std::mutex& lock;
        std::condition_variable& tookOne;
        std::vector<std::thread>& pool;
        ~Joiner() {
            {
                const std::lock_guard<std::mutex> guard(lock);
                stop = true;
            }
            tookOne.notify_all();
            for (std::thread& t : pool) t.join();
        }
    } joiner{stop, lock, tookOne, pool};
    for (unsigned t = 1; t < threads; ++t)
        pool.emplace_back([&, t] {
            do {
                std::unique_lock<std::mutex> guard(lock);
                tookOne.wait(guard, [&] { return stop || next.load() < consumed + window; });
            } while (makeOne(t));
        });
    for (std::size_t i = 0; i < n; ++i) {
        for (;;) {
            {
                std::unique_lock<std::mutex> guard(lock);
                if (done[i]) break;
                if (next.load() >= n) {
                    madeOne.wait(guard, [&] { return done[i] != 0; });
                    break;
                }
            }
            makeOne(0);
        }
        if (failures[i]) std::rethrow_exception(failures[i]);
        consume(i, pieces[i]);
        std::string().swap(pieces[i]);
        {
            const std::lock_guard<std::mutex> guard(lock);
            consumed = i + 1;
        }
        tookOne.notify_all();
    }
}

}  // namespace korrand::io
