#pragma once
#include <string>

namespace vnm {

// Writes all of s to fd; gives up quietly when nobody reads any more.
void writeAll(int fd, const std::string& s);
// A line on standard output (what tests read) and on standard error.
void say(const std::string& line);
void complain(const std::string& line);

}  // namespace vnm
