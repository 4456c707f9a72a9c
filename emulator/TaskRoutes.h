#pragma once

#include "emulator/Router.h"
#include "emulator/Services.h"
#include "emulator/TaskCenter.h"

#include <optional>

namespace zeqemu {

// The task center of the three task families: listings, single-task status,
// cleaning, retry and cancellation, on the paths each family and capability
// level offers.
class TaskRoutes {
public:
    explicit TaskRoutes(Services services) : m_s(services) {}
    void Register(Router& router);

private:
    ApiReply List(const ApiRequest& q, TaskFamily family, bool withTypes);
    ApiReply Clean(const ApiRequest& q, TaskFamily family);
    ApiReply Retry(const ApiRequest& q, TaskFamily family);
    ApiReply Cancel(const ApiRequest& q);
    ApiReply OneTask(const ApiRequest& q, TaskFamily family);
    ApiReply AcrossStatus(const ApiRequest& q);
    ApiReply TransStatus(const ApiRequest& q);
    Json::Value OldStatus(std::int64_t taskId) const;

    Services m_s;
};

} // namespace zeqemu
