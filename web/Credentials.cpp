#include "web/Credentials.h"

#include <sys/stat.h>

#include <fstream>

namespace {

// Compares every byte of the longer text, so that the time taken says
// nothing about where the first difference is.
bool sameText(const std::string& a, const std::string& b) {
    const size_t n = std::max(a.size(), b.size());
    unsigned difference = a.size() != b.size();
    for (size_t i = 0; i < n; ++i)
        difference |= static_cast<unsigned char>(i < a.size() ? a[i] : 0) ^ static_cast<unsigned char>(i < b.size() ? b[i] : 0);
    return difference == 0;
}

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

} // namespace

bool decodeBase64(const std::string& text, std::string& decoded) {
    if (text.size() % 4 != 0) return false;
    decoded.clear();
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        if (padding == 1 && text[i + 2] == '=') return false; // "x=y=" is not padding
        unsigned bits = 0;
        for (int k = 0; k < 4 - padding; ++k) {
            const int value = base64Value(text[i + k]);
            if (value < 0) return false;
            bits = bits << 6 | static_cast<unsigned>(value);
        }
        bits <<= 6 * padding;
        for (int k = 0; k < 3 - padding; ++k) decoded += static_cast<char>(bits >> (16 - 8 * k) & 0xff);
    }
    return true;
}

std::string Credentials::load(const std::string& path) {
    std::ifstream file(path);
    if (!file) return "cannot read " + path;
    users.clear();
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0)
            return path + " line " + std::to_string(number) + ": not user:password";
        users.push_back(line);
    }
    if (file.bad()) return "cannot read " + path;
    return users.empty() ? path + " names no user" : "";
}

bool Credentials::accepts(const std::string& authorization) const {
    const std::string scheme = "Basic ";
    std::string pair;
    if (authorization.compare(0, scheme.size(), scheme) != 0 || !decodeBase64(authorization.substr(scheme.size()), pair))
        return false;
    bool accepted = false;
    for (const std::string& user : users) accepted |= sameText(user, pair);
    return accepted;
}

bool readableByOthers(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && (status.st_mode & (S_IRGRP | S_IROTH)) != 0;
}
