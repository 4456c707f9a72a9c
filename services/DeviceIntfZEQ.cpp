#include "services/DeviceIntfZEQ.h"

#include "core/DeviceCall.h"
#include "core/HttpReqZEQ.h"
#include "core/JsonUtil.h"
#include "platform/GlobalParamWrapper.h"
#include "platform/Scribo.h"
#include "host/VexaBasicHttpLibStrategy.h"
#include "host/VexaCurlHttpLibContext.h"

#include <algorithm>

namespace {

using JsonUtil::GetInt32ValFromJson;
using JsonUtil::GetInt64ValFromJson;
using JsonUtil::GetStrValFromJson;

void FillDiskStatisInfo(const Json::Value& root, DiskStatisInfo& info) {
    info.totalSize = GetInt64ValFromJson(root, "totalSize", 0);
    info.usedSize = GetInt64ValFromJson(root, "usedSize", 0);
    info.userUsage = GetInt64ValFromJson(root, "userUsage", 0);
    info.membersUsage = GetInt64ValFromJson(root, "membersUsage", 0);
    info.publicUsage = GetInt64ValFromJson(root, "publicUsage", 0);
    info.singleUsage = GetInt64ValFromJson(root, "singleUsage", 0);
    info.doubleUsage = GetInt64ValFromJson(root, "doubleUsage", 0);
    // The device's own "usedSize" is not trusted: the shares are summed and
    // capped at the capacity as reported, before that is clamped. The sum is
    // taken in 128 bits, as three 64-bit shares from a reply can overflow 64.
    __extension__ typedef __int128 WideSum;
    const WideSum sum = static_cast<WideSum>(info.userUsage) + info.membersUsage + info.publicUsage;
    const WideSum used = std::min<WideSum>(sum, info.totalSize);
    // At most totalSize when above 0, so it fits.
    info.usedSize = used > 0 ? static_cast<std::int64_t>(used) : 0;
    info.totalSize = std::max<std::int64_t>(info.totalSize, 0);
}

void FillDeviceInfo(const Json::Value& body, DeviceInfo& info) {
    info.deviceName = GetStrValFromJson(body, "DeviceName");
    info.friendlyName = GetStrValFromJson(body, "FriendlyName");
    info.macAddress = GetStrValFromJson(body, "MacAddress");
    info.serialNumber = GetStrValFromJson(body, "SerialNumber");
}

DiskStatusInfo FillDiskStatusInfo(const Json::Value& entry) {
    DiskStatusInfo info;
    info.slot = GetInt32ValFromJson(entry, "slot", 0);
    info.newSlot = GetInt32ValFromJson(entry, "newSlot", 0);
    info.sn = GetStrValFromJson(entry, "sn");
    info.isExist = GetInt32ValFromJson(entry, "isExist", 0);
    info.eventType = GetInt32ValFromJson(entry, "eventType", 0);
    info.usedSize = GetInt32ValFromJson(entry, "usedSize", 0);
    info.totalSize = GetInt32ValFromJson(entry, "totalSize", 0);
    info.diskCapacityLevel = GetInt32ValFromJson(entry, "diskCapacityLevevl", 0);
    return info;
}

DeviceUserInfo FillDeviceUserInfo(const Json::Value& entry) {
    DeviceUserInfo info;
    info.uid = GetInt64ValFromJson(entry, "uid", 0);
    info.userId = GetInt64ValFromJson(entry, "userId", 0);
    info.state = GetInt32ValFromJson(entry, "state", 0);
    info.level = GetInt32ValFromJson(entry, "level", 0);
    info.name = GetStrValFromJson(entry, "name");
    info.nick = GetStrValFromJson(entry, "nick");
    info.avatar = GetStrValFromJson(entry, "avatar");
    return info;
}

} // namespace

DeviceIntfZEQ& DeviceIntfZEQ::Instance() {
    static DeviceIntfZEQ instance;
    return instance;
}

DeviceIntfZEQ::DeviceIntfZEQ() {
    // Constructing a request fills the device request's cached user and device ids.
    HttpReqZEQ request(HttpReqZEQ::HTTP_GET);
}

DeviceIntfZEQ::~DeviceIntfZEQ() = default;

bool DeviceIntfZEQ::GetUserDataStatisInfo(DiskStatisInfo& info) {
    std::string reply;
    return DeviceCall(Scribo::subDevice, "DeviceIntfZEQ::GetUserDataStatisInfo")
               .Send(HttpReqZEQ::HTTP_GET, "account/userDataStatisInfo", {}, {},
                     "get device disk statistics info", reply) &&
           ParseUserDataStatisRsp(reply, info);
}

bool DeviceIntfZEQ::ParseUserDataStatisRsp(const std::string& reply, DiskStatisInfo& info) {
    const DeviceCall call(Scribo::subDevice, "DeviceIntfZEQ::GetUserDataStatisInfo");
    Json::Value root;
    if (!call.CheckReply(reply, "http get device disk statistics info", root)) {
        return false;
    }
    FillDiskStatisInfo(root, info);
    return true;
}

bool DeviceIntfZEQ::GetDeviceInfo(DeviceInfo& info) {
    std::string reply;
    return DeviceCall(Scribo::subDevice, "DeviceIntfZEQ::GetDeviceInfo")
               .Send(HttpReqZEQ::HTTP_GET, "cfg/system/device_info", {}, {}, "get device info",
                     reply) &&
           ParseDeviceInfoRsp(reply, info);
}

bool DeviceIntfZEQ::ParseDeviceInfoRsp(const std::string& reply, DeviceInfo& info) {
    const DeviceCall call(Scribo::subDevice, "DeviceIntfZEQ::GetDeviceInfo");
    Json::Value root;
    if (!call.CheckReply(reply, "http get device info", root)) {
        return false;
    }
    FillDeviceInfo(root.get("body", Json::Value()), info);
    return true;
}

std::vector<DiskStatusInfo> DeviceIntfZEQ::GetDiskStatusInfo() {
    const DeviceCall call(Scribo::subDevice, "DeviceIntfZEQ::GetDiskStatusInfo");
    std::string reply;
    if (!call.Send(HttpReqZEQ::HTTP_GET, "devmanage/diskChange", {}, {}, "get disk info", reply)) {
        return {};
    }
    return ParseDiskStatusRsp(reply);
}

std::vector<DiskStatusInfo> DeviceIntfZEQ::ParseDiskStatusRsp(const std::string& reply) {
    // No envelope here: whatever parses is read, and a root that is not an
    // object (an array, say) simply has no slot list.
    Json::Value root;
    JsonUtil::StringToCppJsonObj(reply, root);
    const Json::Value changes = JsonUtil::GetJsonArrayValFromJson(root, "diskChangeInfo");
    std::vector<DiskStatusInfo> slots;
    for (const Json::Value& entry : changes) {
        slots.push_back(FillDiskStatusInfo(entry));
    }
    return slots;
}

bool DeviceIntfZEQ::GetDeviceUserListInfo(std::vector<DeviceUserInfo>& users) {
    std::string reply;
    return DeviceCall(Scribo::subDevice, "DeviceIntfZEQ::GetDeviceUserListInfo")
               .Send(HttpReqZEQ::HTTP_GET, "account/userManageInfo", {}, {}, "get user list info",
                     reply) &&
           ParseUserListRsp(reply, users);
}

bool DeviceIntfZEQ::ParseUserListRsp(const std::string& reply, std::vector<DeviceUserInfo>& users) {
    const DeviceCall call(Scribo::subDevice, "DeviceIntfZEQ::GetDeviceUserListInfo");
    // This reply is a bare array, not the usual envelope.
    Json::Value root;
    if (!JsonUtil::StringToCppJsonObj(reply, root)) {
        call.Log("StringToCppJsonObj failed for get user list info");
        return false;
    }
    if (root.isNull()) {
        call.Log("jsonRoot is null for get user list info");
        return false;
    }
    if (!root.isArray()) {
        call.Log("jsonRoot is not array for get user list info");
        return false;
    }
    for (Json::ArrayIndex i = 0; i < root.size(); ++i) {
        const Json::Value& entry = root[i];
        if (!entry.isObject()) {
            Scribo::Output(Scribo::subGallery, Scribo::LOG_ERROR, __LINE__,
                           "DeviceIntfZEQ::GetDeviceUserListInfo",
                           L"user model json err at index:" + std::to_wstring(i), true);
            continue;
        }
        users.push_back(FillDeviceUserInfo(entry));
    }
    return true;
}

std::wstring DeviceIntfZEQ::DownloadZEQCopyright() {
    static constexpr const char* kFunction = "DeviceIntfZEQ::DownloadZEQCopyright";
    if (HttpReqZEQ::getZeqDataConnInfo == nullptr) {
        Scribo::Output(Scribo::subCloudSuite, Scribo::LOG_ERROR, __LINE__, kFunction,
                       "getZeqDataConnInfo uninitialized error!", true);
        return {};
    }
    std::string baseUrl;
    std::string cookieId;
    std::string token;
    HttpReqZEQ::getZeqDataConnInfo(baseUrl, cookieId, token);

    const std::wstring filePath =
        GlobalParamWrapper::GetInstance()->GetAppDataLocalPath() + L"/copyright.html";

    VexaBasicHttpLibStrategy strategy;
    strategy.SetUrl(baseUrl + "html/copyright.html?usb=true");
    strategy.SetHttpRequestMethod(VEXA_HTTP_GET);
    // Lines of the generic service are forwarded, marked as not the library's own.
    // A constant needs no capture (clang warns about one).
    static constexpr int line = __LINE__;
    strategy.SetLogFunction([](const std::string& message) {
        Scribo::Output(Scribo::subSetting, Scribo::LOG_NET, line, kFunction, message, false);
    });
    strategy.SetHeaders({{"Cookie", "ID=" + cookieId}, {"Token", token}});

    VexaCurlHttpLibContext context(&strategy);
    std::map<std::string, std::string> responseHeaders;
    // The page is best effort: an old copy, or none, is shown when this fails.
    context.DownloadFile(filePath, responseHeaders);
    return filePath;
}
