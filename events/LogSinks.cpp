#include "events/LogSinks.h"

#include <iostream>

EventLogFile::~EventLogFile() {
    if (file != nullptr) std::fclose(file);
}

bool EventLogFile::open(const std::string& path) {
    // "e": commands the watcher starts must not inherit the log.
    file = std::fopen(path.c_str(), "ae");
    return file != nullptr;
}

void EventLogFile::line(const EventLine& line) {
    if (std::fprintf(file, "%s\n", line.json.c_str()) < 0 || std::fflush(file) != 0)
        report("cannot append to the events log");
}

void StandardOutputLines::line(const EventLine& line) {
    std::cout << line.json << std::endl;
}
