#pragma once

#include "emulator/Router.h"
#include "emulator/Services.h"

namespace zeqemu {

// The device's own paths: storage statistics, identity, disk slots, users and
// the copyright page.
class DeviceRoutes {
public:
    explicit DeviceRoutes(Services services) : m_s(services) {}
    void Register(Router& router);

private:
    ApiReply Statistics(const ApiRequest& q);
    ApiReply Identity(const ApiRequest& q);
    ApiReply DiskChanges(const ApiRequest& q);
    ApiReply Users(const ApiRequest& q);
    ApiReply Copyright(const ApiRequest& q);

    Services m_s;
};

} // namespace zeqemu
