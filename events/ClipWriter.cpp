#include "events/ClipWriter.h"

namespace {

constexpr size_t maxQueued = 16;

} // namespace

ClipWriter::ClipWriter() : worker(&ClipWriter::work, this) {}

ClipWriter::~ClipWriter() {
    close();
    {
        std::lock_guard<std::mutex> lock(mutex);
        closing = true;
    }
    changed.notify_all();
    worker.join();
}

bool ClipWriter::open(const std::string& path, double fps, cv::Size frameSize) {
    close();
    framesWritten = 0;
    opened = writer.open(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps, frameSize, true);
    return opened;
}

void ClipWriter::write(const cv::Mat& frame) {
    if (!opened) return;
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return queue.size() < maxQueued; });
    queue.push_back(frame);
    changed.notify_all();
}

long long ClipWriter::close() {
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return queue.empty() && !writing; });
    }
    if (!opened) return 0;
    writer.release();
    opened = false;
    return framesWritten;
}

void ClipWriter::work() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [&] { return !queue.empty() || closing; });
        if (queue.empty()) return;
        const cv::Mat frame = std::move(queue.front());
        queue.pop_front();
        writing = true;
        lock.unlock();
        writer.write(frame);
        ++framesWritten;
        lock.lock();
        writing = false;
        changed.notify_all();
    }
}
