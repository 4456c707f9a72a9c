#pragma once

#include <cstdint>
#include <string>

// The device's "code" and "des" of one reply, handed back to the caller of a
// write operation on success and on failure alike.
struct HttpPostRspCode {
    std::int64_t code = 0;
    std::string des;
};
