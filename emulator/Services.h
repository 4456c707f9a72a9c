#pragma once

#include "emulator/Capabilities.h"

#include <cstdint>

namespace zeqemu {

class DeviceState;
class FileArea;
class Gallery;
class TaskCenter;

// What the route tables work on; owned by the emulator, outliving every route.
struct Services {
    DeviceState& device;
    FileArea& files;
    Gallery& gallery;
    TaskCenter& tasks;
    const Capabilities& caps;
    std::int64_t galleryPageSize = 200;
};

} // namespace zeqemu
