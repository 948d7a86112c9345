// The queue between a thread that produces work and one that consumes it:
// decoded frames, frames to encode, lines for a command.
//
// It holds at most `capacity` items, and each producer says what happens when
// it is full: wait for room (nothing is lost, the producer slows down), drop
// the oldest item (a live source outpacing the detector), or refuse the new
// one (the producer reports it). Closing it wakes everyone: later pushes
// fail, pops still drain what is queued, then report the end.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

template <class T>
class BoundedQueue {
public:
    enum class WhenFull { Wait, DropOldest, Refuse };

    explicit BoundedQueue(size_t capacity) : capacity(capacity) {}

    // False, the item not queued, once closed or when refused.
    bool push(T item, WhenFull whenFull) {
        std::unique_lock<std::mutex> lock(mutex);
        if (whenFull == WhenFull::Wait) changed.wait(lock, [&] { return items.size() < capacity || closed; });
        if (closed || (whenFull == WhenFull::Refuse && items.size() >= capacity)) return false;
        if (items.size() >= capacity) items.pop_front();
        items.push_back(std::move(item));
        changed.notify_all();
        return true;
    }

    // The oldest item, waiting at most `wait` for one; nothing when none
    // came in time or the queue is closed and empty (see ended()).
    template <class Rep, class Period>
    std::optional<T> pop(std::chrono::duration<Rep, Period> wait) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, wait, [&] { return !items.empty() || closed; });
        return takeFront();
    }

    // The oldest item, waiting as long as it takes; nothing once the queue
    // is closed and empty.
    std::optional<T> pop() {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return !items.empty() || closed; });
        return takeFront();
    }

    // The consumer is done with the item it popped last: waitUntilDone()
    // counts it as finished.
    void done() {
        std::lock_guard<std::mutex> lock(mutex);
        busy = false;
        changed.notify_all();
    }

    // Returns once every queued item was popped and finished.
    void waitUntilDone() {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return items.empty() && !busy; });
    }

    void close() {
        std::lock_guard<std::mutex> lock(mutex);
        closed = true;
        changed.notify_all();
    }

    // Waits at most `wait` for close(); true when closed.
    template <class Rep, class Period>
    bool waitForClose(std::chrono::duration<Rep, Period> wait) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, wait, [&] { return closed; });
    }

    // Closed and nothing left to pop.
    bool ended() {
        std::lock_guard<std::mutex> lock(mutex);
        return closed && items.empty();
    }

    size_t size() {
        std::lock_guard<std::mutex> lock(mutex);
        return items.size();
    }

private:
    std::optional<T> takeFront() {
        if (items.empty()) return std::nullopt;
        std::optional<T> item(std::move(items.front()));
        items.pop_front();
        busy = true;
        changed.notify_all();
        return item;
    }

    const size_t capacity;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<T> items;
    bool busy = false;
    bool closed = false;
};
