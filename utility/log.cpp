#include "utility/log.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace tf {

std::string print_level(int level) {
    const char* tag;
    switch (level) {
    case LOG_ERROR: tag = "ERROR: "; break;
    case LOG_WARN: tag = "WARN : "; break;
    case LOG_INFO: tag = "INFO : "; break;
    case LOG_DEBUG: tag = "DEBUG: "; break;
    default: tag = "NONE : "; break;
    }
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    return std::string(tag) + "[" + std::to_string(seconds % 100000) + "] ";
}

const char* log_source_name(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

void log_write(const std::string& line) {
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

} // namespace tf
