#include "web/WebServer.h"

#include "config/LiveSettings.h"
#include "config/ReplaceFile.h"
#include "detector/parameters/Parameters.h"
#include "events/EventFiles.h"
#include "io/RegionMask.h"
#include "web/ByteRange.h"
#include "web/EventList.h"
#include "web/ImageHeader.h"
#include "web/Page.h"

#include <opencv2/imgcodecs.hpp>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using nlohmann::ordered_json;

namespace {

constexpr size_t maxBody = 16 << 20;
constexpr int maxStreams = 16;
constexpr int defaultStreamFps = 10;
constexpr int maxFps = 30;
constexpr int maxWidth = 8192;
constexpr int defaultEvents = 50;
constexpr int maxEvents = 1000;
// How long a mask snapshot waits for the next frame to bring its mask.
constexpr auto maskWait = std::chrono::seconds(3);
// How often a stream without new frames looks whether its client is gone.
constexpr auto idleStreamCheck = std::chrono::seconds(1);
// A mask larger than the frame by more than this in either direction is no mask.
constexpr int maxMaskScale = 4;

const char* const boundary = "frame";
const char* const pageSecurity = "default-src 'none'; img-src 'self' blob: data:; media-src 'self'; "
                                 "connect-src 'self'; style-src 'unsafe-inline'; script-src 'unsafe-inline'";

void answer(httplib::Response& res, const ordered_json& body) {
    res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
}

void fail(httplib::Response& res, int status, const std::string& message) {
    res.status = status;
    answer(res, ordered_json{{"error", message}});
}

// What an error the library answered by itself means.
std::string meaning(int status) {
    switch (status) {
    case 400: return "malformed request";
    case 404: return "not found";
    case 405: return "method not allowed";
    case 413: return "request body over 16 MiB";
    case 414: return "request line too long";
    case 416: return "range not satisfiable";
    default: return "request refused";
    }
}

// Whether the query names only `allowed`, each at most once; else says what is wrong.
std::string unexpectedQuery(const httplib::Request& req, std::initializer_list<const char*> allowed) {
    for (const auto& [name, value] : req.params) {
        bool known = false;
        for (const char* a : allowed) known |= name == a;
        if (!known) return "unknown parameter " + name;
        if (req.get_param_value_count(name) > 1) return "parameter " + name + " given twice";
    }
    return "";
}

// The integer parameter `name` within low..high, fallback when absent;
// nothing when it is not such a number.
std::optional<int> number(const httplib::Request& req, const char* name, int low, int high, int fallback) {
    if (!req.has_param(name)) return fallback;
    const std::string text = req.get_param_value(name);
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high || !std::isdigit(text[0]))
        return std::nullopt;
    return static_cast<int>(value);
}

std::optional<LiveFeed::View> viewOf(const httplib::Request& req) {
    if (!req.has_param("view")) return LiveFeed::View::Annotated;
    if (req.get_param_value("view") == "mask") return LiveFeed::View::Mask;
    return std::nullopt;
}

// persist=1 (keep after a restart) or persist=0 (the same as none).
std::optional<bool> persistOf(const httplib::Request& req) {
    const std::string value = req.has_param("persist") ? req.get_param_value("persist") : "0";
    if (value != "0" && value != "1") return std::nullopt;
    return value == "1";
}

// The host part of a Host header: "[::1]:8080" gives "::1", "a:80" gives "a".
std::string hostPart(const std::string& header) {
    if (!header.empty() && header[0] == '[') {
        const size_t close = header.find(']');
        return close == std::string::npos ? header : header.substr(1, close - 1);
    }
    return header.substr(0, header.find(':'));
}

bool isNumericAddress(const std::string& host) {
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// A client that names the server by a name of its own (a web site whose
// name was made to resolve to this machine) is not one of ours.
bool addressedDirectly(const httplib::Request& req) {
    if (!req.has_header("Host")) return true; // only old clients omit it, browsers never
    const std::string host = hostPart(req.get_header_value("Host"));
    return isNumericAddress(host) || isLoopbackAddress(host);
}

const char* contentTypeOf(const std::string& name) {
    const std::string extension = name.substr(name.rfind('.') + 1);
    if (extension == "mp4") return "video/mp4";
    if (extension == "avi") return "video/x-msvideo";
    return "image/jpeg";
}

std::vector<uchar> pngOf(const cv::Mat& image) {
    std::vector<uchar> png;
    cv::imencode(".png", image, png);
    return png;
}

void answerPng(httplib::Response& res, const cv::Mat& image) {
    const std::vector<uchar> png = pngOf(image);
    res.set_content(reinterpret_cast<const char*>(png.data()), png.size(), "image/png");
}

// An open event file, closed when the last response reading it is done.
struct OpenFile {
    explicit OpenFile(int fd) : fd(fd) {}
    ~OpenFile() { close(fd); }
    const int fd;
};

} // namespace

struct WebServer::Route {
    const char* path;
    bool prefix; // path is a folder: every name in it
    Handler get;
    Handler put;
};

// One client of /stream.mjpg: its picture, pace and place in the stream.
struct WebServer::Stream {
    explicit Stream(std::atomic<int>& count) : count(count) {}
    ~Stream() { --count; }
    std::atomic<int>& count;
    LiveFeed::Picture picture;
    Clock::duration period{};
    std::optional<LiveFeed::MaskInterest> mask;
    long long last = -1;
    Clock::time_point due = Clock::now();
};

const WebServer::Route* WebServer::findRoute(const std::string& path) {
    static const Route routes[] = {
        {"/", false, &WebServer::page, nullptr},
        {"/stream.mjpg", false, &WebServer::stream, nullptr},
        {"/snapshot.jpg", false, &WebServer::snapshot, nullptr},
        {"/api/status", false, &WebServer::status, nullptr},
        {"/api/events", false, &WebServer::events, nullptr},
        {"/events/", true, &WebServer::eventFile, nullptr},
        {"/api/parameters", false, &WebServer::parameters, nullptr},
        {"/api/settings", false, &WebServer::getSettings, &WebServer::putSettings},
        {"/api/zones.png", false, &WebServer::getZones, &WebServer::putZones},
    };
    for (const Route& route : routes) {
        const bool matches = route.prefix ? path.compare(0, std::strlen(route.path), route.path) == 0 : path == route.path;
        if (matches) return &route;
    }
    return nullptr;
}

WebServer::Handler WebServer::handlerOf(const Route& route, const std::string& method) {
    if (method == "GET" || method == "HEAD") return route.get;
    if (method == "PUT") return route.put;
    return nullptr;
}

WebServer::WebServer(WebOptions options, WebSink& sink, WatchControls controls)
    : options(std::move(options)), watch(sink), controls(std::move(controls)), server(BoundedServer::Limits{}) {
    server.set_payload_max_length(maxBody);
    server.set_default_headers({{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}});
    server.onRequestHead([](Request& req) {
        // The library's own ranges go wrong past a file's end: the event
        // files answer the Range header themselves, everything else whole.
        req.ranges.clear();
        // Bodies are taken as they come (JSON, an image), never as a form
        // whose fields the library would mix into the query.
        req.headers.erase("Content-Type");
    });
    server.onError([](const Request&, Response& res) {
        if (!res.body.empty()) return;
        const std::string why = BoundedServer::readFailure();
        fail(res, res.status, why.empty() ? meaning(res.status) : why);
    });
    // The library would name the exception in a header; the client learns
    // only that the fault is ours.
    server.set_exception_handler([](const Request&, Response& res, std::exception_ptr) {
        fail(res, 500, "internal error");
    });
    server.set_pre_routing_handler([this](const Request& req, Response& res) { return screen(req, res); });
    server.Get(".*", [this](const Request& req, Response& res) { dispatch(req, res); });
    server.Put(".*", [this](const Request& req, Response& res) { dispatch(req, res); });
}

WebServer::~WebServer() {
    stop();
}

std::string WebServer::bind() {
    if (server.bind_to_port(options.address.host, options.address.port)) return "";
    // The library does not say why; a socket of our own asks the system.
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(options.address.host.c_str(), std::to_string(options.address.port).c_str(), &hints, &found) != 0)
        return "no such address " + options.address.host;
    std::string reason = "cannot listen there";
    const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    if (fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
        ::bind(fd, found->ai_addr, found->ai_addrlen) != 0)
        reason = std::strerror(errno);
    if (fd >= 0) close(fd);
    freeaddrinfo(found);
    return reason;
}

void WebServer::start() {
    thread = std::thread([this] { server.listen_after_bind(); });
}

void WebServer::stop() {
    {
        std::lock_guard<std::mutex> lock(stopMutex);
        stopping = true;
    }
    stopChanged.notify_all();
    watch.feed().close();
    server.shutdown();
    if (thread.joinable()) thread.join();
}

bool WebServer::waitUnlessStopping(Clock::time_point until) {
    std::unique_lock<std::mutex> lock(stopMutex);
    return !stopChanged.wait_until(lock, until, [&] { return stopping; });
}

httplib::Server::HandlerResponse WebServer::screen(const Request& req, Response& res) const {
    using R = httplib::Server::HandlerResponse;
    if (!options.credentials && !addressedDirectly(req)) {
        fail(res, 400, "address the server by a loopback name or a numeric address");
        return R::Handled;
    }
    if (options.credentials && !options.credentials->accepts(req.get_header_value("Authorization"))) {
        res.set_header("WWW-Authenticate", "Basic realm=\"motion_watch\"");
        fail(res, 401, "credentials required");
        return R::Handled;
    }
    const Route* route = findRoute(req.path);
    if (route == nullptr) {
        fail(res, 404, "no such page: " + req.path);
        return R::Handled;
    }
    if (handlerOf(*route, req.method) == nullptr) {
        res.set_header("Allow", route->put != nullptr ? "GET, HEAD, PUT" : "GET, HEAD");
        fail(res, 405, req.method + " is not taken by " + req.path);
        return R::Handled;
    }
    const std::string length = req.get_header_value("Content-Length");
    if (!length.empty() && std::strtoull(length.c_str(), nullptr, 10) > maxBody) {
        fail(res, 413, meaning(413));
        return R::Handled;
    }
    return R::Unhandled;
}

void WebServer::dispatch(const Request& req, Response& res) {
    (this->*handlerOf(*findRoute(req.path), req.method))(req, res);
}

void WebServer::page(const Request& req, Response& res) {
    if (std::string error = unexpectedQuery(req, {}); !error.empty()) return fail(res, 400, error);
    res.set_header("Content-Security-Policy", pageSecurity);
    res.set_header("X-Frame-Options", "DENY");
    res.set_content(webPage(), "text/html; charset=utf-8");
}

void WebServer::stream(const Request& req, Response& res) {
    if (std::string error = unexpectedQuery(req, {"view", "fps", "width"}); !error.empty()) return fail(res, 400, error);
    const std::optional<LiveFeed::View> view = viewOf(req);
    const std::optional<int> fps = number(req, "fps", 1, maxFps, defaultStreamFps);
    const std::optional<int> width = number(req, "width", 1, maxWidth, 0);
    if (!view) return fail(res, 400, "view must be mask or absent");
    if (!fps) return fail(res, 400, "fps must be an integer from 1 to 30");
    if (!width) return fail(res, 400, "width must be an integer from 1 to 8192");
    if (++streams > maxStreams) {
        --streams;
        return fail(res, 503, "too many streams (16 at once)");
    }
    auto state = std::make_shared<Stream>(streams);
    state->picture = LiveFeed::Picture{*view, *width};
    state->period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / *fps));
    if (*view == LiveFeed::View::Mask) state->mask.emplace(watch.feed());
    res.set_content_provider(std::string("multipart/x-mixed-replace; boundary=") + boundary,
                             [this, state](size_t, httplib::DataSink& sink) { return writeStreamPart(*state, sink); });
}

// Waits for the stream's next turn and a frame newer than its last, then
// sends that frame as one part.
bool WebServer::writeStreamPart(Stream& stream, httplib::DataSink& sink) {
    if (!waitUnlessStopping(stream.due)) return false;
    std::optional<LiveFeed::Jpeg> jpeg;
    while (!(jpeg = watch.feed().next(stream.picture, stream.last, Clock::now() + idleStreamCheck))) {
        if (!waitUnlessStopping(Clock::now()) || BoundedServer::clientGone()) return false;
    }
    const std::string header = std::string("--") + boundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                               std::to_string(jpeg->bytes->size()) + "\r\n\r\n";
    const bool sent = sink.write(header.data(), header.size()) &&
                      sink.write(reinterpret_cast<const char*>(jpeg->bytes->data()), jpeg->bytes->size()) &&
                      sink.write("\r\n", 2);
    stream.last = jpeg->index;
    stream.due = std::max(stream.due + stream.period, Clock::now());
    return sent;
}

void WebServer::snapshot(const Request& req, Response& res) {
    if (std::string error = unexpectedQuery(req, {"view", "width"}); !error.empty()) return fail(res, 400, error);
    const std::optional<LiveFeed::View> view = viewOf(req);
    const std::optional<int> width = number(req, "width", 1, maxWidth, 0);
    if (!view) return fail(res, 400, "view must be mask or absent");
    if (!width) return fail(res, 400, "width must be an integer from 1 to 8192");
    LiveFeed& feed = watch.feed();
    std::optional<LiveFeed::Jpeg> jpeg;
    if (*view == LiveFeed::View::Mask) {
        // Masks are made only while wanted: this one comes with the next frame.
        const LiveFeed::MaskInterest interest(feed);
        jpeg = feed.next({*view, *width}, feed.newest(*view), Clock::now() + maskWait);
    } else {
        jpeg = feed.next({*view, *width}, -1, Clock::now());
    }
    if (!jpeg) return fail(res, 503, "no frame yet");
    res.set_content(reinterpret_cast<const char*>(jpeg->bytes->data()), jpeg->bytes->size(), "image/jpeg");
}

void WebServer::status(const Request& req, Response& res) {
    if (std::string error = unexpectedQuery(req, {}); !error.empty()) return fail(res, 400, error);
    answer(res, watch.status());
}

void WebServer::events(const Request& req, Response& res) {
    if (std::string error = unexpectedQuery(req, {"limit"}); !error.empty()) return fail(res, 400, error);
    const std::optional<int> limit = number(req, "limit", 1, maxEvents, defaultEvents);
    if (!limit) return fail(res, 400, "limit must be an integer from 1 to 1000");
    ordered_json list = ordered_json::array();
    ordered_json running = watch.runningEvent();
    if (!running.is_null()) list.push_back(std::move(running));
    for (ordered_json& ended : recentEvents(controls.outputDirectory, *limit - list.size())) list.push_back(std::move(ended));
    answer(res, list);
}

void WebServer::eventFile(const Request& req, Response& res) {
    if (std::string error = unexpectedQuery(req, {}); !error.empty()) return fail(res, 400, error);
    const std::string name = req.path.substr(std::strlen("/events/"));
    if (eventFileStem(name).empty()) return fail(res, 404, "no such event file: " + name);
    // Not through a link: the output directory's own files only.
    const int fd = open((controls.outputDirectory / name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return fail(res, 404, "no such event file: " + name);
    auto file = std::make_shared<OpenFile>(fd);
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return fail(res, 404, "no such event file: " + name);
    const size_t size = static_cast<size_t>(status.st_size);
    const ByteRange range = byteRangeOf(req.get_header_value("Range"), size);
    res.set_header("Accept-Ranges", "bytes");
    if (range.kind == ByteRange::Unsatisfiable) {
        res.set_header("Content-Range", "bytes */" + std::to_string(size));
        return fail(res, 416, "range not satisfiable");
    }
    size_t first = 0;
    size_t length = size;
    if (range.kind == ByteRange::Part) {
        first = range.first;
        length = range.last - range.first + 1;
        res.status = 206;
        res.set_header("Content-Range", "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) +
                                            "/" + std::to_string(size));
    }
    res.set_content_provider(length, contentTypeOf(name),
                             [file, first](size_t offset, size_t length, httplib::DataSink& sink) {
                                 char buffer[64 * 1024];
                                 const ssize_t n = pread(file->fd, buffer, std::min(length, sizeof buffer),
                                                         static_cast<off_t>(first + offset));
                                 return n > 0 && sink.write(buffer, static_cast<size_t>(n));
                             });
}

void WebServer::parameters(const Request& req, Response& res) {
    if (std::string error = unexpectedQuery(req, {}); !error.empty()) return fail(res, 400, error);
    ordered_json list = ordered_json::array();
    for (const motion::Parameter& p : motion::parameterTable) {
        list.push_back({{"key", p.key},
                        {"integer", p.isInteger()},
                        {"min", p.low},
                        {"max", p.high},
                        {"default", p.defaultValue},
                        {"meaning", p.meaning}});
    }
    answer(res, list);
}

void WebServer::getSettings(const Request& req, Response& res) {
    if (std::string error = unexpectedQuery(req, {}); !error.empty()) return fail(res, 400, error);
    answer(res, controls.settings.current());
}

void WebServer::putSettings(const Request& req, Response& res) {
    if (std::string error = unexpectedQuery(req, {"persist"}); !error.empty()) return fail(res, 400, error);
    const std::optional<bool> persist = persistOf(req);
    if (!persist) return fail(res, 400, "persist must be 0 or 1");
    const nlohmann::json changes = nlohmann::json::parse(req.body, nullptr, false);
    if (changes.is_discarded()) return fail(res, 400, "the body is not JSON");
    if (std::string error = controls.settings.submit(changes); !error.empty()) return fail(res, 400, error);
    if (*persist) {
        if (std::string error = controls.settings.persist(changes); !error.empty())
            return fail(res, 500, "in force but not kept: " + error);
    }
    answer(res, controls.settings.current());
}

void WebServer::getZones(const Request& req, Response& res) {
    if (std::string error = unexpectedQuery(req, {}); !error.empty()) return fail(res, 400, error);
    answerPng(res, controls.regionMask());
}

void WebServer::putZones(const Request& req, Response& res) {
    if (std::string error = unexpectedQuery(req, {"persist"}); !error.empty()) return fail(res, 400, error);
    const std::optional<bool> persist = persistOf(req);
    if (!persist) return fail(res, 400, "persist must be 0 or 1");
    const std::vector<uchar> bytes(req.body.begin(), req.body.end());
    const std::optional<cv::Size> promised = promisedImageSize(bytes);
    const cv::Size frame = controls.frameSize;
    if (promised && (promised->width > maxMaskScale * frame.width || promised->height > maxMaskScale * frame.height))
        return fail(res, 400, "the image is far larger than the frame");
    const cv::Mat grey = decodeRegionMaskImage(bytes);
    if (grey.empty()) return fail(res, 400, "the body is not an image");
    const cv::Mat binary = binariseRegionMask(grey, frame);
    controls.submitRegionMask(binary);
    if (*persist) {
        if (std::string error = persistZones(binary); !error.empty())
            return fail(res, 500, "in force but not kept: " + error);
    }
    answerPng(res, binary);
}

// Writes the mask as PNG to the mask file in force at the start (the
// command line's or the configuration's), or else to region_mask.png beside
// the configuration, which then names it.
std::string WebServer::persistZones(const cv::Mat& binary) {
    std::string path = controls.regionMaskFile;
    if (path.empty()) path = controls.settings.current().value("region_mask_file", "");
    const bool newFile = path.empty();
    if (newFile) path = (fs::path(controls.configPath).parent_path() / "region_mask.png").string();
    const std::vector<uchar> png = pngOf(binary);
    std::string error = replaceFile(path, std::string(png.begin(), png.end()));
    if (error.empty() && newFile) error = controls.settings.persist({{"region_mask_file", path}});
    return error;
}
