// The web page of a running watcher and its HTTP API.
//
//   GET  /                    the page (HTML, CSS and script, nothing from elsewhere)
//   GET  /stream.mjpg         the live view as multipart JPEG (view=mask, fps=1..30, width=N)
//   GET  /snapshot.jpg        the latest frame (view=mask, width=N)
//   GET  /api/status          the watcher's state
//   GET  /api/events          the events of the output directory (limit=1..1000)
//   GET  /events/<file>       an event's clip or snapshot, byte ranges served
//   GET  /api/parameters      the detector's parameters: range, type, default, meaning
//   GET  /api/settings        every parameter's value in force, and region_mask_file
//   PUT  /api/settings        some of them, in force from the next frame (persist=1 keeps them)
//   GET  /api/zones.png       the region mask at frame size (white watched)
//   PUT  /api/zones.png       a new one, any image format (persist=1 keeps it)
//
// Answers are JSON unless they are pictures; an error is {"error":"..."}
// with 400 (a malformed request or value), 401 (credentials wanted), 404
// (no such thing), 405 (a method the path does not take), 413 (a body over
// 16 MiB), 416 (a byte range past a file's end), 500 (a change in force that
// could not be kept in its file, or a fault of ours) or 503 (no frame yet,
// too many streams or connections). With credentials every request needs
// them; without, only requests addressed to a loopback name or a numeric
// address are served, so that a web site cannot reach the page through a
// name of its own that resolves to this machine.
#pragma once

#include "web/BoundedServer.h"
#include "web/Credentials.h"
#include "web/ListenAddress.h"
#include "web/WebSink.h"

#include <opencv2/core.hpp>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class LiveSettings;

struct WebOptions {
    ListenAddress address;
    std::optional<Credentials> credentials; // none: anyone who reaches the port
};

// What the page reads from and changes in the running watcher.
struct WatchControls {
    std::filesystem::path outputDirectory;
    std::string configPath;
    std::string regionMaskFile; // the mask file in force at the start ("" none)
    LiveSettings& settings;
    cv::Size frameSize;
    std::function<cv::Mat()> regionMask;             // 255 watched, 0 excluded, at frame size
    std::function<void(cv::Mat)> submitRegionMask;   // the same form, in force from the next frame
};

class WebServer {
public:
    WebServer(WebOptions options, WebSink& sink, WatchControls controls);
    ~WebServer(); // stops
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Takes the port; "" on success, else why not (in use, no such address).
    std::string bind();

    // Serves on a thread of its own until stop().
    void start();

    // Ends every connection and stream; returns when all are done.
    void stop();

private:
    using Request = httplib::Request;
    using Response = httplib::Response;
    using Handler = void (WebServer::*)(const Request&, Response&);
    struct Route;
    struct Stream;

    static const Route* findRoute(const std::string& path);
    static Handler handlerOf(const Route& route, const std::string& method);
    httplib::Server::HandlerResponse screen(const Request& req, Response& res) const;
    void dispatch(const Request& req, Response& res);

    void page(const Request& req, Response& res);
    void stream(const Request& req, Response& res);
    void snapshot(const Request& req, Response& res);
    void status(const Request& req, Response& res);
    void events(const Request& req, Response& res);
    void eventFile(const Request& req, Response& res);
    void parameters(const Request& req, Response& res);
    void getSettings(const Request& req, Response& res);
    void putSettings(const Request& req, Response& res);
    void getZones(const Request& req, Response& res);
    void putZones(const Request& req, Response& res);

    bool writeStreamPart(Stream& stream, httplib::DataSink& sink);
    bool waitUnlessStopping(std::chrono::steady_clock::time_point until);
    std::string persistZones(const cv::Mat& binary);

    const WebOptions options;
    WebSink& watch;
    const WatchControls controls;
    BoundedServer server;
    std::atomic<int> streams{0};
    std::mutex stopMutex;
    std::condition_variable stopChanged;
    bool stopping = false;
    std::thread thread;
};
