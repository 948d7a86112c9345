#include "web/BoundedServer.h"

#include "io/BoundedQueue.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto headTime = std::chrono::seconds(10);
constexpr size_t headBytes = 32 * 1024;
constexpr auto bodyTime = std::chrono::seconds(60);
constexpr auto writeStall = std::chrono::seconds(15);
constexpr auto idleTime = std::chrono::seconds(5);
// After an error response the rest of the request is read and thrown away
// for a moment, so that the client, still sending, gets to read the answer
// instead of a reset connection.
constexpr auto lingerTime = std::chrono::seconds(2);
constexpr size_t requestsPerConnection = 100;
// Serving threads (JPEG encoding among their work) yield the processor to
// detection when both want it.
constexpr int servingNiceness = 10;

const std::string refusalBody = R"({"error":"too many connections"})";
const std::string refusal = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nContent-Length: " +
                            std::to_string(refusalBody.size()) + "\r\nConnection: close\r\n\r\n" + refusalBody;

// Waits until fd is ready for events or the deadline passes.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, events, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

void addressOf(int fd, bool peer, std::string& ip, int& port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int status = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length)
                            : getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    if (status != 0) return;
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        port = ntohs(v4->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        port = ntohs(v6->sin6_port);
    }
    ip = text;
}

} // namespace

// One client's socket as the library reads and writes it, with the time and
// size limits applied to every read and write.
class BoundedServer::Connection : public httplib::Stream {
public:
    explicit Connection(socket_t fd) : fd(fd) {}

    // Between requests: waits for the next one to begin.
    bool waitForRequest() const { return start < end || waitFor(fd, POLLIN, Clock::now() + idleTime); }

    void beginRequest() {
        inHead = true;
        headRead = 0;
        deadline = Clock::now() + headTime;
        failure.clear();
    }

    void headComplete() {
        inHead = false;
        deadline = Clock::now() + bodyTime;
    }

    bool is_readable() const override { return start < end || waitFor(fd, POLLIN, deadline); }
    bool is_writable() const override { return waitFor(fd, POLLOUT, Clock::now() + writeStall); }

    ssize_t read(char* ptr, size_t size) override {
        if (start == end && !fill()) return -1;
        size_t n = std::min(size, end - start);
        if (inHead) {
            if (headRead >= headBytes) return fail("request head over 32 KiB");
            n = std::min(n, headBytes - headRead);
            headRead += n;
        }
        std::memcpy(ptr, buffer + start, n);
        start += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable()) return -1;
        return send(fd, ptr, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { addressOf(fd, true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { addressOf(fd, false, ip, port); }
    socket_t socket() const override { return fd; }

    bool peerGone() const {
        pollfd p{fd, POLLIN | POLLRDHUP, 0};
        if (poll(&p, 1, 0) <= 0) return false;
        if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) return true;
        char byte;
        return recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
    }

    // After an error response, lingers on what the client still sends.
    void close() {
        ::shutdown(fd, closing ? SHUT_WR : SHUT_RDWR);
        const Clock::time_point until = Clock::now() + lingerTime;
        char discard[4096];
        while (closing && waitFor(fd, POLLIN, until) && recv(fd, discard, sizeof discard, 0) > 0) {}
        ::close(fd);
    }

    void refuse() {
        // Best effort and never blocking: this runs on the accepting thread.
        (void)send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }

    std::string failure; // why the last read failed
    bool closing = false;

private:
    bool fill() {
        if (!waitFor(fd, POLLIN, deadline)) {
            fail(inHead ? "request head not received within 10 s" : "request body not received within 60 s");
            return false;
        }
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        start = 0;
        end = static_cast<size_t>(n);
        return true;
    }

    ssize_t fail(const char* why) {
        failure = why;
        return -1;
    }

    const socket_t fd;
    char buffer[4096];
    size_t start = 0;
    size_t end = 0;
    bool inHead = true;
    size_t headRead = 0;
    Clock::time_point deadline = Clock::now() + headTime;
};

thread_local BoundedServer::Connection* BoundedServer::currentConnection = nullptr;

namespace {

// Set on the accepting thread while it refuses a connection itself.
thread_local bool refusing = false;

} // namespace

// A fixed set of threads and a short waiting line; a connection beyond both
// is refused on the accepting thread instead of queueing without bound.
class BoundedServer::TaskQueue : public httplib::TaskQueue {
public:
    TaskQueue(size_t threads, size_t waiting) : jobs(waiting) {
        for (size_t i = 0; i < threads; ++i) workers.emplace_back([this] { work(); });
    }

    void enqueue(std::function<void()> job) override {
        if (jobs.push(job, BoundedQueue<std::function<void()>>::WhenFull::Refuse)) return;
        refusing = true;
        job();
        refusing = false;
    }

    void shutdown() override {
        jobs.close();
        for (std::thread& worker : workers) worker.join();
    }

private:
    void work() {
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), servingNiceness);
        while (const std::optional<std::function<void()>> job = jobs.pop()) {
            (*job)();
            jobs.done();
        }
    }

    BoundedQueue<std::function<void()>> jobs;
    std::vector<std::thread> workers;
};

BoundedServer::BoundedServer(Limits limits) : limits(limits) {
    new_task_queue = [this] { return new TaskQueue(this->limits.threads, this->limits.waiting); };
    set_socket_options([](socket_t sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    set_error_handler(HandlerWithResponse([this](const httplib::Request& req, httplib::Response& res) {
        closeAfterResponse(res);
        if (errorHandler) errorHandler(req, res);
        return HandlerResponse::Unhandled; // no byte ranges of an error
    }));
    set_keep_alive_max_count(requestsPerConnection);
    set_keep_alive_timeout(std::chrono::duration_cast<std::chrono::seconds>(idleTime).count());
}

BoundedServer::~BoundedServer() {
    shutdown();
}

void BoundedServer::shutdown() {
    {
        std::lock_guard<std::mutex> lock(connectionsMutex);
        stopping = true;
        for (socket_t sock : connections) ::shutdown(sock, SHUT_RDWR);
    }
    stop();
}

void BoundedServer::closeAfterResponse(httplib::Response& res) {
    if (currentConnection == nullptr) return;
    currentConnection->closing = true;
    if (!res.has_header("Connection")) res.set_header("Connection", "close");
}

std::string BoundedServer::readFailure() {
    return currentConnection != nullptr ? currentConnection->failure : std::string();
}

bool BoundedServer::clientGone() {
    return currentConnection == nullptr || currentConnection->peerGone();
}

bool BoundedServer::process_and_close_socket(socket_t sock) {
    Connection connection(sock);
    if (refusing) {
        connection.refuse();
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(connectionsMutex);
        if (stopping) ::shutdown(sock, SHUT_RDWR);
        connections.insert(sock);
    }
    currentConnection = &connection;
    serve(connection);
    currentConnection = nullptr;
    {
        std::lock_guard<std::mutex> lock(connectionsMutex);
        connections.erase(sock);
    }
    connection.close();
    return true;
}

void BoundedServer::serve(Connection& connection) {
    const auto headComplete = [&](httplib::Request& req) {
        connection.headComplete();
        if (headHandler) headHandler(req);
    };
    for (size_t served = 0; served < requestsPerConnection && running(); ++served) {
        if (!connection.waitForRequest()) return;
        connection.beginRequest();
        bool closed = false;
        const bool last = served + 1 == requestsPerConnection;
        if (!process_request(connection, last, closed, headComplete) || closed || connection.closing) return;
    }
}
