// The simulator's output: time-stamped lines on stdout, flushed one by one
// so that a pipe sees each line when it happens. Request, connection and
// time-out lines are "traffic" and --quiet suppresses them; notices
// (start-up, warnings, summary) always appear.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace sim {

class EventLog {
public:
    EventLog(std::FILE* out, bool quiet) : out_(out), quiet_(quiet) {}

    void traffic(std::string_view line);
    void notice(std::string_view line);

private:
    void write(std::string_view line);

    std::FILE* out_;
    bool quiet_;
};

// "HH:MM:SS.mmm" of the local time now.
std::string timeStamp();

}  // namespace sim
