// A connection to an MQTT broker that keeps itself up and never holds up
// its callers.
//
// One thread of its own does all the network work and calls the handlers:
// it connects, and while the broker is down, unreachable or refuses the
// login it tries again after 1 s, 2 s, 4 s ... up to every 30 s, with one
// report per kind of failure (not one per attempt). After every connection
// it subscribes and sends what the connected handler gives before anything
// queued. Every message goes out with QoS 1, in the order given.
//
// publish() only queues: at most 100 messages wait (while the broker is
// away, or when it takes them slower than they come); what overflows is
// dropped, with one report per stretch of drops. Messages in flight when a
// connection drops are sent again by libmosquitto after the next one.
#pragma once

#include "io/BoundedQueue.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;

struct MqttMessage {
    std::string topic;
    std::string payload;
    bool retain = false;
    // Read the payload from this file when the message is sent: the caller's
    // thread never touches the disk for it.
    std::string payloadFile;
    // A state the connected handler sends anyway: it is not queued while the
    // connection is down, and a copy still waiting from before the latest
    // connection is dropped, so that no stale state follows the fresh one.
    bool state = false;
};

class MqttConnection {
public:
    struct Endpoint {
        std::string host;
        int port = 1883;
        std::string user; // empty: no login
        std::string password;
        std::string clientId;
        // Published by the broker when the connection drops, and by the
        // connection itself when it closes.
        MqttMessage will;
        std::vector<std::string> subscriptions;
    };

    // All called on the connection's thread.
    struct Handlers {
        // After each connection: what to send before anything queued.
        std::function<std::vector<MqttMessage>()> connected;
        // A message on a subscribed topic (retained: it was stored at the
        // broker before we subscribed); returns what to send in reply, first.
        std::function<std::vector<MqttMessage>(const std::string& topic, const std::string& payload, bool retained)>
            received;
        // One line about the connection (no newline).
        std::function<void(const std::string&)> report;
    };

    MqttConnection(Endpoint endpoint, Handlers handlers);
    // Sends what is queued, for up to 5 seconds, unless the broker is known
    // to be away (a run shorter than the first connection still gets its
    // messages out); then publishes the will's message itself and
    // disconnects cleanly. What could not be sent is reported.
    ~MqttConnection();
    MqttConnection(const MqttConnection&) = delete;
    MqttConnection& operator=(const MqttConnection&) = delete;

    // From any thread; never waits for the network. For a state message,
    // change the state the connected handler reads before the call.
    void publish(MqttMessage message);

private:
    using Clock = std::chrono::steady_clock;

    struct Queued {
        MqttMessage message;
        unsigned connection; // the number of the connection it was queued during
    };

    static void onConnect(mosquitto*, void* self, int code);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void onPublish(mosquitto*, void* self, int mid);

    void run();
    void step(Clock::duration longest);
    void attempt();
    void serve(Clock::duration longest);
    void connected();
    void lost(const std::string& why);
    // What a libmosquitto result (with errno as it was) means, in words.
    std::string describe(int code, int error) const;
    void sendWaiting();
    bool take(MqttMessage& message);
    size_t unsent();
    void send(const MqttMessage& message);
    void farewell();
    void wake();
    void report(const std::string& what) const;

    const Endpoint endpoint;
    const Handlers handlers;
    const std::string address; // host:port, for reports
    mosquitto* client = nullptr;
    int wakeFd = -1;

    // Shared with the callers of publish().
    BoundedQueue<Queued> waiting;
    std::atomic<bool> up{false}; // connected and acknowledged by the broker
    std::atomic<unsigned> connections{0};
    std::atomic<bool> stopping{false};
    std::atomic<bool> dropping{false};

    // The connection's thread only.
    std::deque<MqttMessage> first; // before anything waiting
    std::set<int> unacknowledged;  // handed to libmosquitto, not yet acknowledged
    bool socketOpen = false;
    int refusal = 0; // the broker's answer to the last connection request
    Clock::time_point deadline; // of the connection attempt in progress, or of the next
    Clock::duration backOff;
    std::string lastProblem; // reported, not yet overcome
    std::thread worker;
};
