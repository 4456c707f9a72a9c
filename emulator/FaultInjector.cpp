#include "emulator/FaultInjector.h"

#include <stdexcept>

namespace zeqemu {

FaultInjector::FaultInjector(const FaultOptions& options)
    : m_options(options), m_random(options.seed != 0 ? options.seed : std::random_device{}()) {
    const auto valid = [](int percent) { return percent >= 0 && percent <= 100; };
    if (!valid(options.errorPercent) || !valid(options.dropPercent) ||
        options.errorPercent + options.dropPercent > 100) {
        throw std::invalid_argument("fault shares must be 0 to 100 percent, 100 at most together");
    }
}

FaultInjector::Action FaultInjector::Pick() {
    if (m_options.errorPercent == 0 && m_options.dropPercent == 0) {
        return Action::None;
    }
    int roll = 0;
    {
        std::lock_guard lock(m_mutex);
        roll = static_cast<int>(std::uniform_int_distribution<int>(0, 99)(m_random));
    }
    if (roll < m_options.errorPercent) {
        return Action::Fail;
    }
    if (roll < m_options.errorPercent + m_options.dropPercent) {
        return Action::Drop;
    }
    return Action::None;
}

} // namespace zeqemu
