// The web page of a running watcher, set up from its command line: the
// credentials read, the port taken, the sink that feeds the page and the
// server that answers, tied to the watcher's detection session.
//
// open() does everything that can fail before the watcher creates any
// output file, so that a port in use or an unreadable credentials file ends
// the start with nothing created. The server answers from start() until the
// object goes.
#pragma once

#include "io/DetectionSession.h"
#include "web/ListenAddress.h"
#include "web/WebServer.h"
#include "web/WebSink.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

struct WebPageSetup {
    ListenAddress address;
    std::string credentialsFile; // "" none
    std::string name;            // the watcher's, shown on the page
    std::filesystem::path outputDirectory;
    std::string configPath;
};

class WatchWebPage {
public:
    // "" on success, else the one line that says why not. report: told of a
    // credentials file other users can read.
    std::string open(const WebPageSetup& setup, DetectionSession& session,
                     const std::function<void(const std::string&)>& report);

    EventSink& sink() { return *feed; }

    void start() { server->start(); }

private:
    std::unique_ptr<WebSink> feed;
    std::unique_ptr<WebServer> server; // after feed: goes first
};
