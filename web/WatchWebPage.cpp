#include "web/WatchWebPage.h"

#include <ctime>

std::string WatchWebPage::open(const WebPageSetup& setup, DetectionSession& session,
                               const std::function<void(const std::string&)>& report) {
    WebOptions options{setup.address, std::nullopt};
    if (!setup.credentialsFile.empty()) {
        Credentials credentials;
        if (std::string problem = credentials.load(setup.credentialsFile); !problem.empty())
            return "cannot use the credentials: " + problem;
        if (readableByOthers(setup.credentialsFile))
            report("warning: other users can read the passwords in " + setup.credentialsFile);
        options.credentials = std::move(credentials);
    }
    feed = std::make_unique<WebSink>(WatchIdentity{setup.name, session.sourceText(), isLive(session.sourceKind()),
                                                   session.frameSize(), std::time(nullptr)});
    WatchControls controls{setup.outputDirectory,
                           setup.configPath,
                           session.regionMaskFile(),
                           session.settings(),
                           session.frameSize(),
                           [&session] { return session.regionMaskImage(); },
                           [&session](cv::Mat mask) { session.submitRegionMask(std::move(mask)); }};
    server = std::make_unique<WebServer>(options, *feed, std::move(controls));
    if (std::string problem = server->bind(); !problem.empty())
        return "cannot serve the web page on " + setup.address.host + ":" + std::to_string(setup.address.port) + ": " +
               problem;
    return "";
}
