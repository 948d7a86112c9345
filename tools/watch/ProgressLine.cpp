#include "tools/watch/ProgressLine.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

ProgressLine::ProgressLine(long long totalFrames) : enabled(isatty(STDERR_FILENO) == 1), total(totalFrames) {}

void ProgressLine::update(long long frames, int events) {
    if (!enabled) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw < std::chrono::milliseconds(100)) return;
    lastDraw = now;
    draw(frames, events);
}

void ProgressLine::finish(long long frames, int events) {
    if (!enabled) return;
    draw(frames, events);
    std::fputc('\n', stderr);
}

void ProgressLine::draw(long long frames, int events) {
    if (total > 0) {
        constexpr long long width = 30;
        const long long filled = std::min(width, frames * width / total);
        std::fprintf(stderr, "\r[%s%s] %lld/%lld frames, %d events", std::string(size_t(filled), '#').c_str(),
                     std::string(size_t(width - filled), ' ').c_str(), frames, total, events);
    } else {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::fprintf(stderr, "\r%lld frames, %.1f fps, %d events", frames, seconds > 0 ? frames / seconds : 0.0, events);
    }
    std::fflush(stderr);
}
