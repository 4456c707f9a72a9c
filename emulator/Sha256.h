#pragma once

#include <cstdint>
#include <string>

namespace zeqemu {

// Lower-case hex SHA-256 of the first length bytes of an open file, read in
// blocks (never the whole file at once). Empty when the file holds fewer
// bytes or cannot be read.
std::string Sha256Prefix(int fd, std::int64_t length);

} // namespace zeqemu
