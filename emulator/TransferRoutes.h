#pragma once

#include "emulator/Router.h"
#include "emulator/Services.h"

namespace zeqemu {

// Transfers under "trans/": copy and move inside the file area, and copies
// between the gallery and the file area. Each request starts tasks.
class TransferRoutes {
public:
    explicit TransferRoutes(Services services) : m_s(services) {}
    void Register(Router& router);

private:
    ApiReply CopyOrMove(const ApiRequest& q, bool move);
    ApiReply CopyAcross(const ApiRequest& q);
    // One entry of a reply's "tasks", with the task-center fields only when
    // the device offers them.
    Json::Value TaskResult(const std::string& name, std::int64_t taskId) const;

    Services m_s;
};

} // namespace zeqemu
