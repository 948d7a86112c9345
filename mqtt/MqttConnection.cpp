#include "mqtt/MqttConnection.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr size_t maxWaiting = 100;
// Below libmosquitto's own limit of 20 messages in flight, beyond which it
// would queue without bound itself.
constexpr size_t maxUnacknowledged = 16;
constexpr int keepAliveSeconds = 30;
constexpr int qos = 1;
constexpr std::chrono::seconds firstBackOff(1);
constexpr std::chrono::seconds lastBackOff(30);
// A broker that takes the TCP connection but does not answer the request,
// or a host that swallows it, is tried again instead of waited for.
constexpr std::chrono::seconds answerTime(10);
constexpr std::chrono::seconds farewellTime(5);
constexpr std::chrono::seconds idleWake(1);

bool readFile(const std::string& path, std::string& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    bytes.assign(std::istreambuf_iterator<char>(file), {});
    return !file.bad();
}

std::string withoutFinalStop(std::string text) {
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

std::string printableAddress(const std::string& host, int port) {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

} // namespace

MqttConnection::MqttConnection(Endpoint endpointIn, Handlers handlersIn)
    : endpoint(std::move(endpointIn)), handlers(std::move(handlersIn)),
      address(printableAddress(endpoint.host, endpoint.port)), waiting(maxWaiting), backOff(firstBackOff) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { mosquitto_lib_init(); });
    client = mosquitto_new(endpoint.clientId.c_str(), true, this);
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (client == nullptr || wakeFd < 0) {
        report("cannot set up a client; nothing is published");
        return;
    }
    const MqttMessage& will = endpoint.will;
    mosquitto_will_set(client, will.topic.c_str(), int(will.payload.size()), will.payload.data(), qos, will.retain);
    if (!endpoint.user.empty())
        mosquitto_username_pw_set(client, endpoint.user.c_str(), endpoint.password.c_str());
    mosquitto_connect_callback_set(client, onConnect);
    mosquitto_message_callback_set(client, onMessage);
    mosquitto_publish_callback_set(client, onPublish);
    deadline = Clock::now();
    worker = std::thread(&MqttConnection::run, this);
}

MqttConnection::~MqttConnection() {
    if (worker.joinable()) {
        stopping = true;
        wake();
        worker.join();
    }
    if (client != nullptr) mosquitto_destroy(client);
    if (wakeFd >= 0) close(wakeFd);
}

void MqttConnection::publish(MqttMessage message) {
    if (!worker.joinable() || (message.state && !up)) return;
    // The caller changed its state before this call: a connection made after
    // this count sends that state itself, and this copy is then dropped.
    const unsigned connection = connections;
    if (!waiting.push({std::move(message), connection}, BoundedQueue<Queued>::WhenFull::Refuse)) {
        if (!dropping.exchange(true))
            report(std::to_string(maxWaiting) + " messages wait already; dropping messages until the broker takes them");
        return;
    }
    dropping = false;
    wake();
}

void MqttConnection::run() {
    while (!stopping) step(idleWake);
    farewell();
}

void MqttConnection::step(Clock::duration longest) {
    if (!socketOpen && Clock::now() >= deadline) attempt();
    serve(longest);
}

void MqttConnection::attempt() {
    refusal = 0;
    const int code = mosquitto_connect_async(client, endpoint.host.c_str(), endpoint.port, keepAliveSeconds);
    if (code != MOSQ_ERR_SUCCESS) {
        lost(describe(code, errno));
        return;
    }
    socketOpen = true;
    deadline = Clock::now() + answerTime;
}

// Waits for the socket, a publish() or the time of the next step, for at
// most longest, and does what is due.
void MqttConnection::serve(Clock::duration longest) {
    Clock::duration wait = longest;
    if (!up) wait = std::clamp<Clock::duration>(deadline - Clock::now(), Clock::duration::zero(), longest);
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {-1, 0, 0}};
    if (socketOpen) {
        fds[1].fd = mosquitto_socket(client);
        fds[1].events = short(POLLIN | (mosquitto_want_write(client) ? POLLOUT : 0));
    }
    const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    if (poll(fds, 2, int(milliseconds)) < 0 && errno != EINTR) return;
    uint64_t wakes = 0;
    if (fds[0].revents & POLLIN) (void)!read(wakeFd, &wakes, sizeof wakes);
    if (fds[1].fd >= 0) {
        int code = MOSQ_ERR_SUCCESS;
        if (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) code = mosquitto_loop_read(client, 1);
        if (code == MOSQ_ERR_SUCCESS && (fds[1].revents & POLLOUT)) code = mosquitto_loop_write(client, 1);
        if (code == MOSQ_ERR_SUCCESS) code = mosquitto_loop_misc(client);
        if (code != MOSQ_ERR_SUCCESS) return lost(describe(code, errno));
    }
    if (!up && socketOpen && Clock::now() >= deadline) return lost("no answer");
    if (up) sendWaiting();
}

std::string MqttConnection::describe(int code, int error) const {
    if (code == MOSQ_ERR_ERRNO) return std::strerror(error);
    if (code == MOSQ_ERR_CONN_REFUSED && refusal != 0) return withoutFinalStop(mosquitto_connack_string(refusal));
    return withoutFinalStop(mosquitto_strerror(code));
}

void MqttConnection::onConnect(mosquitto*, void* self, int code) {
    auto& connection = *static_cast<MqttConnection*>(self);
    if (code == 0)
        connection.connected();
    else
        connection.refusal = code;
}

void MqttConnection::connected() {
    ++connections;
    up = true;
    backOff = firstBackOff;
    if (!lastProblem.empty()) report("connected");
    lastProblem.clear();
    for (const std::string& topic : endpoint.subscriptions) mosquitto_subscribe(client, nullptr, topic.c_str(), qos);
    std::vector<MqttMessage> burst = handlers.connected();
    first.assign(std::make_move_iterator(burst.begin()), std::make_move_iterator(burst.end()));
}

void MqttConnection::lost(const std::string& why) {
    up = false;
    socketOpen = false;
    // libmosquitto sends what was in flight again after the next connection;
    // the window starts empty.
    unacknowledged.clear();
    if (why != lastProblem) report(why + "; trying again");
    lastProblem = why;
    deadline = Clock::now() + backOff;
    backOff = std::min<Clock::duration>(backOff * 2, lastBackOff);
}

void MqttConnection::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto& connection = *static_cast<MqttConnection*>(self);
    std::string payload;
    if (message->payloadlen > 0) payload.assign(static_cast<const char*>(message->payload), size_t(message->payloadlen));
    for (MqttMessage& reply : connection.handlers.received(message->topic, payload, message->retain))
        connection.first.push_back(std::move(reply));
}

void MqttConnection::onPublish(mosquitto*, void* self, int mid) {
    static_cast<MqttConnection*>(self)->unacknowledged.erase(mid);
}

void MqttConnection::sendWaiting() {
    MqttMessage message;
    while (unacknowledged.size() < maxUnacknowledged) {
        if (!first.empty()) {
            message = std::move(first.front());
            first.pop_front();
        } else if (!take(message)) {
            return;
        }
        send(message);
    }
}

bool MqttConnection::take(MqttMessage& message) {
    while (std::optional<Queued> queued = waiting.pop(Clock::duration::zero())) {
        if (queued->message.state && queued->connection != connections) continue;
        message = std::move(queued->message);
        return true;
    }
    return false;
}

size_t MqttConnection::unsent() {
    return waiting.size() + first.size() + unacknowledged.size();
}

void MqttConnection::send(const MqttMessage& message) {
    std::string fileBytes;
    if (!message.payloadFile.empty() && !readFile(message.payloadFile, fileBytes)) {
        report("cannot read " + message.payloadFile + " for " + message.topic);
        return;
    }
    const std::string& payload = message.payloadFile.empty() ? message.payload : fileBytes;
    int mid = 0;
    const int code = mosquitto_publish(client, &mid, message.topic.c_str(), int(payload.size()), payload.data(), qos,
                                       message.retain);
    if (code == MOSQ_ERR_SUCCESS)
        unacknowledged.insert(mid);
    else
        report("cannot publish on " + message.topic + ": " + withoutFinalStop(mosquitto_strerror(code)));
}

void MqttConnection::farewell() {
    const Clock::time_point end = Clock::now() + farewellTime;
    // A run shorter than the first connection (a short file) still gets its
    // lines out; a broker known to be away is not waited for.
    auto reachable = [this] { return up || lastProblem.empty(); };
    while (reachable() && unsent() > 0 && Clock::now() < end) step(end - Clock::now());
    const size_t left = unsent() - first.size(); // the states are no loss: the next run sends them again
    if (up) {
        send(endpoint.will);
        mosquitto_disconnect(client);
        const Clock::time_point written = Clock::now() + std::chrono::seconds(1);
        while (mosquitto_socket(client) >= 0 && mosquitto_want_write(client) && Clock::now() < written) {
            pollfd out{mosquitto_socket(client), POLLOUT, 0};
            poll(&out, 1, 100);
            if (mosquitto_loop_write(client, 1) != MOSQ_ERR_SUCCESS) break;
        }
    }
    if (left > 0) report(std::to_string(left) + " messages were not delivered");
}

void MqttConnection::wake() {
    const uint64_t one = 1;
    (void)!write(wakeFd, &one, sizeof one);
}

void MqttConnection::report(const std::string& what) const {
    handlers.report("MQTT broker " + address + ": " + what);
}
