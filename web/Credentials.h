// Who may use the web page: the user:password lines of a file, checked
// against the HTTP Basic credentials of each request.
//
// Every non-empty line is one user; the password is everything after the
// first ':' (so it may contain ':'). Comparison takes the same time however
// much of a password matches.
#pragma once

#include <string>
#include <vector>

class Credentials {
public:
    // Reads the file. "" on success, else what is wrong with it (cannot be
    // read, a line without ':' or without a user, no user at all).
    std::string load(const std::string& path);

    // Whether the value of an Authorization header names a user with the
    // right password.
    bool accepts(const std::string& authorization) const;

private:
    std::vector<std::string> users; // "user:password"
};

// Whether users other than the file's owner may read it (worth a warning:
// the passwords are in plain text).
bool readableByOthers(const std::string& path);

// Standard base64 with padding; nothing when text is not exactly that.
bool decodeBase64(const std::string& text, std::string& decoded);
