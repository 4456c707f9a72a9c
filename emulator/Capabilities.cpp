#include "emulator/Capabilities.h"

#include <sstream>
#include <stdexcept>

namespace zeqemu {

namespace {

int CategoryOf(int capability) {
    switch (capability) {
    case Capabilities::kGalleryTaskStatus:
    case Capabilities::kGalleryType305:
        return Capabilities::kTaskCenterCategory;
    case Capabilities::kTransTaskCenter:
    case Capabilities::kFileBatch:
        return Capabilities::kFileCategory;
    default:
        return 0;
    }
}

} // namespace

Capabilities::Capabilities()
    : m_offered{kGalleryTaskStatus, kGalleryType305, kTransTaskCenter, kFileBatch} {}

Capabilities::Capabilities(std::set<int> offered) : m_offered(std::move(offered)) {
    for (const int cap : m_offered) {
        if (CategoryOf(cap) == 0) {
            throw std::invalid_argument("unknown capability " + std::to_string(cap));
        }
    }
}

Capabilities Capabilities::Parse(const std::string& text) {
    std::set<int> offered;
    if (text == "none") {
        return Capabilities(offered);
    }
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item.find_first_not_of(' ') == std::string::npos) {
            continue;
        }
        std::size_t used = 0;
        int value = 0;
        try {
            value = std::stoi(item, &used);
        } catch (const std::exception&) {
            throw std::invalid_argument("not a capability number: " + item);
        }
        if (item.find_first_not_of(' ', used) != std::string::npos) {
            throw std::invalid_argument("not a capability number: " + item);
        }
        offered.insert(value);
    }
    return Capabilities(offered);
}

int Capabilities::DevCap(int category, int capability) const {
    return CategoryOf(capability) == category && Has(capability) ? 1 : 0;
}

std::string Capabilities::ToString() const {
    std::string text;
    for (const int cap : m_offered) {
        if (!text.empty()) {
            text += ',';
        }
        text += std::to_string(cap);
    }
    return text.empty() ? "none" : text;
}

} // namespace zeqemu
