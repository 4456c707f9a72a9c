#pragma once

#include <cstddef>
#include <string>

namespace servicesbench {

// One page of the full photo table as the device sends it: the envelope, the
// paging keys and `items` files carrying all 32 keys each, in the device's
// key order. 10,000 items make about 7 MB.
std::string PhotoTablePage(std::size_t items);

} // namespace servicesbench
