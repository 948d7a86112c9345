#include "web/ListenAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>

#include <cstdlib>

std::optional<ListenAddress> parseListenAddress(const std::string& text) {
    ListenAddress address;
    const size_t colon = text.rfind(':');
    std::string portText = text;
    if (colon != std::string::npos) {
        address.host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        const bool bracketed = address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']';
        if (bracketed) address.host = address.host.substr(1, address.host.size() - 2);
        if (address.host.empty() || address.host.find_first_of("[]") != std::string::npos) return std::nullopt;
        if (address.host.find(':') != std::string::npos && !bracketed) return std::nullopt; // IPv6 wants brackets
    }
    if (portText.empty() || portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    address.port = std::atoi(portText.c_str());
    if (address.port < 1 || address.port > 65535) return std::nullopt;
    return address;
}

bool isLoopbackAddress(const std::string& host) {
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
    return strcasecmp(host.c_str(), "localhost") == 0;
}
