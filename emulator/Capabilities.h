#pragma once

#include <set>
#include <string>

namespace zeqemu {

// The optional features the emulated device offers. Task-center capabilities
// (6, 7) are answered under category 2 of the client's capability callback,
// file capabilities (8, 10) under category 1.
class Capabilities {
public:
    static constexpr int kTaskCenterCategory = 2;
    static constexpr int kFileCategory = 1;

    static constexpr int kGalleryTaskStatus = 6; // gallery status endpoints, types 300, 302-304
    static constexpr int kGalleryType305 = 7;    // bin-clearing tasks reported as type 305
    static constexpr int kTransTaskCenter = 8;   // task-center fields of transfers, trans/ status
    static constexpr int kFileBatch = 10;        // batch operations and file task lists

    // Every capability on: the newest device.
    Capabilities();
    explicit Capabilities(std::set<int> offered);

    // "6,7,8,10", "" (none) or "none"; throws std::invalid_argument on a value
    // that is not one of the four known capabilities.
    static Capabilities Parse(const std::string& text);

    bool Has(int capability) const { return m_offered.count(capability) > 0; }
    // The host callback's contract: greater than 0 when supported.
    int DevCap(int category, int capability) const;
    const std::set<int>& Offered() const { return m_offered; }
    std::string ToString() const;

private:
    std::set<int> m_offered;
};

} // namespace zeqemu
