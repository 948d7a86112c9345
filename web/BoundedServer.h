// An HTTP server on cpp-httplib in which every client costs a bounded
// amount of threads, memory and time, whatever it sends or fails to read.
//
// The library reads requests through a stream this class provides, so that:
//  - a fixed number of threads serve connections, at a lower priority than
//    the rest of the program; a few more connections may wait for one, and
//    any beyond those get 503 at once;
//  - a request's line and headers must arrive within 10 seconds and 32 KiB
//    (a client that sends a header byte per second is answered 400 and
//    dropped), and its body within 60 seconds;
//  - a write on which the client makes no progress for 15 seconds drops the
//    connection, and an idle connection closes after 5 seconds;
//  - an error response closes its connection, so that an unread body is
//    never taken for the next request;
//  - the port is bound exclusively: a second server on it fails to start
//    instead of sharing the connections (the library's default would share).
// stop() ends every connection at once, waiting or not.
#pragma once

#include <httplib.h>

#include <functional>
#include <mutex>
#include <set>
#include <string>

class BoundedServer : public httplib::Server {
public:
    struct Limits {
        size_t threads = 24;
        size_t waiting = 16;
    };

    explicit BoundedServer(Limits limits);
    ~BoundedServer() override;

    // Called on the serving thread once a request's head is in and before
    // anything else looks at it.
    void onRequestHead(std::function<void(httplib::Request&)> handler) { headHandler = std::move(handler); }

    // Called for every response of status 400 or above, the library's own
    // included, to give it a body.
    void onError(std::function<void(const httplib::Request&, httplib::Response&)> handler) {
        errorHandler = std::move(handler);
    }

    // Ends every connection and the listening; returns when all threads are done.
    void shutdown();

    // On the thread serving a request: the connection is closed after the
    // response (the response says so).
    static void closeAfterResponse(httplib::Response& res);
    // On the thread serving a request: why reading the request failed ("" if it did not).
    static std::string readFailure();
    // On the thread serving a request: whether the client has closed its side.
    static bool clientGone();

private:
    class Connection;
    class TaskQueue;

    bool process_and_close_socket(socket_t sock) override;
    void serve(Connection& connection);
    bool running() const { return svr_sock_ != INVALID_SOCKET; }

    const Limits limits;
    std::function<void(httplib::Request&)> headHandler;
    std::function<void(const httplib::Request&, httplib::Response&)> errorHandler;
    static thread_local Connection* currentConnection; // the one this thread serves
    std::mutex connectionsMutex;
    std::set<socket_t> connections;
    bool stopping = false;
};
