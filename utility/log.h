#pragma once

#include <sstream>
#include <string>

namespace tf {

enum LOG_LEVEL { LOG_NONE = 0, LOG_ERROR = 1, LOG_WARN = 2, LOG_INFO = 3, LOG_DEBUG = 4 };

// "ERROR: [12345] " - the level tag, then the seconds since 1970 modulo 100000.
std::string print_level(int level);

// The file name part of a source path (__FILE__ may carry folders).
const char* log_source_name(const char* path);

// Writes one finished line to the standard error stream in a single call,
// so lines from two threads never interleave.
void log_write(const std::string& line);

} // namespace tf

// One log line: tag, time, function, message, source position.
// `message` is a stream-insertion chain: TF_LOG(tf::LOG_ERROR, "bad size: " << n);
#define TF_LOG(level, message)                                                            \
    do {                                                                                  \
        std::ostringstream tf_log_line_;                                                  \
        tf_log_line_ << ::tf::print_level(level) << __func__ << "(): " << message << " (" \
                     << ::tf::log_source_name(__FILE__) << ":" << __LINE__ << ")\n";     \
        ::tf::log_write(tf_log_line_.str());                                              \
    } while (0)
