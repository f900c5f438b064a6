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
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace korrand::io {

// The most threads ThreadsFor gives.
constexpr unsigned kMaxThreads = 8;

// Helper threads for one job: help(t) runs for t = 1 .. count while the caller does its own
// part, and the destructor waits for them all. They come from a crew kept for the whole run: a
// large drawing is read in dozens of batches, and threads started and ended for each cost more
// than their start (the allocator purges what an ending thread held, and the next one touches
// fresh memory). When the crew is busy (a job on another thread, or a job inside a crew
// thread's own), threads of their own are started. help must not throw.
class Helpers {
public:
    template <class Help>
    Helpers(unsigned count, const Help& help) : job_(help) {
        if (count == 0) return;
        crew_ = Crew::Enlist(count, job_);
        if (crew_ != nullptr) return;
        try {
            for (unsigned t = 1; t <= count; ++t) own_.emplace_back([this, t] { job_(t); });
        } catch (...) {
            for (std::thread& t : own_) t.join();
            throw;
        }
    }
    Helpers(const Helpers&) = delete;
    Helpers& operator=(const Helpers&) = delete;
    ~Helpers() {
        if (crew_ != nullptr) crew_->Release();
        for (std::thread& t : own_) t.join();
    }

private:
    class Crew {
    public:
        // The crew, running job(1 .. count), or null when it cannot take a job now.
        static Crew* Enlist(unsigned count, const std::function<void(unsigned)>& job) {
            if (member_) return nullptr;
            // Kept to the end of the process, its threads waiting: nothing to tear down at exit.
            static Crew* const crew = new Crew;
            std::unique_lock<std::mutex> busy(crew->busy_, std::try_to_lock);
            if (!busy.owns_lock()) return nullptr;
            const std::lock_guard<std::mutex> guard(crew->lock_);
            for (; crew->threads_ < count; ++crew->threads_)
                std::thread(&Crew::Serve, crew, crew->threads_ + 1).detach();
            crew->job_ = &job;
            crew->count_ = count;
            crew->running_ = count;
            ++crew->round_;
            crew->wake_.notify_all();
            busy.release();  // held until Release
            return crew;
        }
        // Waits for the job's threads, then lets the crew take another job.
        void Release() {
            {
                std::unique_lock<std::mutex> guard(lock_);
                done_.wait(guard, [&] { return running_ == 0; });
                job_ = nullptr;
            }
            busy_.unlock();
        }

    private:
        void Serve(unsigned t) {
            member_ = true;
            std::size_t seen = 0;
            std::unique_lock<std::mutex> guard(lock_);
            for (;;) {
                wake_.wait(guard, [&] { return round_ != seen; });
                seen = round_;
                if (t > count_) continue;
                const std::function<void(unsigned)>* job = job_;
                guard.unlock();
                (*job)(t);
                guard.lock();
                if (--running_ == 0) done_.notify_all();
            }
        }

        std::mutex busy_;  // one job at a time
        std::mutex lock_;  // what follows
        std::condition_variable wake_, done_;
        unsigned threads_ = 0, count_ = 0, running_ = 0;
        std::size_t round_ = 0;
        const std::function<void(unsigned)>* job_ = nullptr;
        static inline thread_local bool member_ = false;
    };

    std::function<void(unsigned)> job_;
    Crew* crew_ = nullptr;
    std::vector<std::thread> own_;
};

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
    {
        const Helpers helpers(threads - 1, run);
        run(0);
    }
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
    const Helpers helpers(threads - 1, [&](unsigned t) {
        do {
            std::unique_lock<std::mutex> guard(lock);
            tookOne.wait(guard, [&] { return stop || next.load() < consumed + window; });
        } while (makeOne(t));
    });
    // However this ends, the helpers stop taking pieces before they are waited for.
    struct Stopper {
        std::atomic<bool>& stop;
        std::mutex& lock;
        std::condition_variable& tookOne;
        ~Stopper() {
            {
                const std::lock_guard<std::mutex> guard(lock);
                stop = true;
            }
            tookOne.notify_all();
        }
    } stopper{stop, lock, tookOne};
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
