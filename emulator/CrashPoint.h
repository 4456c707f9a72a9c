#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zeqemu::crashpoint {

// A hook of the crash tests: the process kills itself with SIGKILL, as a crash
// or a kill -9 would, when it reaches the armed point, so a test can cut a
// write short exactly where a random kill only lands now and then: just
// before or just after the one step that makes a change happen (a rename; for
// a purge, the save of the bin). Nothing is armed unless the program is told so.

// The points a write passes ("copy:before", "copy:after", ...).
const std::vector<std::string>& Names();
// Arms one of Names(); called once, before any thread starts.
void Arm(const std::string& point);
// Dies when point is the armed one.
void Reach(std::string_view point);

} // namespace zeqemu::crashpoint
