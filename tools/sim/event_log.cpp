#include "event_log.hpp"

#include <chrono>
#include <ctime>

namespace sim {

std::string timeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}

void EventLog::traffic(std::string_view line) {
    if (!quiet_) write(line);
}

void EventLog::notice(std::string_view line) { write(line); }

void EventLog::write(std::string_view line) {
    const std::string stamp = timeStamp();
    std::fprintf(out_, "%s %.*s\n", stamp.c_str(), static_cast<int>(line.size()), line.data());
    std::fflush(out_);
}

}  // namespace sim
