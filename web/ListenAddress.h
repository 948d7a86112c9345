// Where the web page listens: --http [ADDR:]PORT.
#pragma once

#include <optional>
#include <string>

struct ListenAddress {
    std::string host = "127.0.0.1";
    int port = 0;
};

// "[ADDR:]PORT" (an IPv6 address in brackets; 127.0.0.1 when none is
// given); nothing when malformed.
std::optional<ListenAddress> parseListenAddress(const std::string& text);

// Whether host names this machine's loopback interface only (127.0.0.0/8,
// ::1, localhost): the only addresses served without credentials.
bool isLoopbackAddress(const std::string& host);
