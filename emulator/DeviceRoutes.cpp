#include "emulator/DeviceRoutes.h"

#include "emulator/ApiError.h"
#include "emulator/DeviceState.h"
#include "emulator/ErrorCodes.h"
#include "emulator/FileArea.h"
#include "emulator/Gallery.h"

#include <fstream>
#include <sstream>
#include <sys/statvfs.h>

namespace zeqemu {

namespace {

Json::Int64 J(std::int64_t v) {
    return static_cast<Json::Int64>(v);
}

} // namespace

void DeviceRoutes::Register(Router& r) {
    const auto bind = [this](ApiReply (DeviceRoutes::*fn)(const ApiRequest&)) {
        return [this, fn](const ApiRequest& q) { return (this->*fn)(q); };
    };
    r.Get("account/userDataStatisInfo", bind(&DeviceRoutes::Statistics));
    r.Get("cfg/system/device_info", bind(&DeviceRoutes::Identity));
    r.Get("devmanage/diskChange", bind(&DeviceRoutes::DiskChanges));
    r.Get("account/userManageInfo", bind(&DeviceRoutes::Users));
    r.Page("html/copyright.html", bind(&DeviceRoutes::Copyright));
}

ApiReply DeviceRoutes::Statistics(const ApiRequest&) {
    const auto usage = m_s.files.ComputeUsage();
    const auto media = m_s.gallery.MediaBytes();
    std::int64_t total = 0;
    struct statvfs vfs {};
    if (::statvfs(m_s.device.CopyrightPage().parent_path().c_str(), &vfs) == 0) {
        total = static_cast<std::int64_t>(vfs.f_blocks * vfs.f_frsize);
    }
    Json::Value out;
    out["totalSize"] = J(total);
    out["userUsage"] = J(usage.user + media);
    out["membersUsage"] = J(usage.members);
    out["publicUsage"] = J(usage.publicArea);
    out["usedSize"] = J(usage.user + media + usage.members + usage.publicArea);
    // Gallery media is kept single; only folders marked double count there.
    out["singleUsage"] = J(usage.single + media);
    out["doubleUsage"] = J(usage.dual);
    return ApiReply::Ok(out);
}

ApiReply DeviceRoutes::Identity(const ApiRequest&) {
    Json::Value out;
    out["body"] = m_s.device.Identity();
    return ApiReply::Ok(out);
}

ApiReply DeviceRoutes::DiskChanges(const ApiRequest&) {
    Json::Value out;
    out["diskChangeInfo"] = m_s.device.DiskEvents();
    return ApiReply::Ok(out);
}

ApiReply DeviceRoutes::Users(const ApiRequest&) {
    // This one reply is a bare array, not an envelope.
    return ApiReply::RawJson(m_s.device.Users());
}

ApiReply DeviceRoutes::Copyright(const ApiRequest&) {
    std::ifstream in(m_s.device.CopyrightPage(), std::ios::binary);
    if (!in) {
        throw ApiError(404, code::kNoSuchFile, "no copyright page");
    }
    std::ostringstream text;
    text << in.rdbuf();
    ApiReply reply;
    reply.contentType = "text/html; charset=utf-8";
    reply.body = text.str();
    return reply;
}

} // namespace zeqemu
