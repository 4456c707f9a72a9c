#pragma once

#include "platform/HttpLibExport.h"

#include <cstdint>
#include <string>
#include <vector>

// Storage statistics of the device, in the device's units.
struct DiskStatisInfo {
    std::int64_t totalSize = 0; // never negative
    // userUsage + membersUsage + publicUsage, capped at totalSize, never negative
    std::int64_t usedSize = 0;
    std::int64_t userUsage = 0;
    std::int64_t membersUsage = 0;
    std::int64_t publicUsage = 0;
    std::int64_t singleUsage = 0;
    std::int64_t doubleUsage = 0;
};

struct DeviceInfo {
    std::string serialNumber;
    std::string macAddress;
    std::string friendlyName;
    std::string deviceName;
};

// One disk slot event.
struct DiskStatusInfo {
    std::int32_t slot = 0;
    std::int32_t newSlot = 0;
    std::string sn;
    std::int32_t isExist = 0;
    std::int32_t eventType = 0;
    std::int32_t usedSize = 0;
    std::int32_t totalSize = 0;
    std::int32_t diskCapacityLevel = 0;
};

struct DeviceUserInfo {
    std::int64_t uid = 0;
    std::int64_t userId = 0;
    std::int32_t state = 0;
    std::int32_t level = 0;
    std::string name;
    std::string nick;
    std::string avatar;
};

// The storage device itself: statistics, identity, disk slots, users, and its
// copyright page saved locally.
class HTTPLIB_API DeviceIntfZEQ {
public:
    static DeviceIntfZEQ& Instance();

    DeviceIntfZEQ(const DeviceIntfZEQ&) = delete;
    DeviceIntfZEQ& operator=(const DeviceIntfZEQ&) = delete;

    bool GetUserDataStatisInfo(DiskStatisInfo& info);
    bool GetDeviceInfo(DeviceInfo& info);
    // Empty on any failure; a reply problem is not logged.
    std::vector<DiskStatusInfo> GetDiskStatusInfo();
    // Appends to users; entries that are not objects are logged and skipped.
    bool GetDeviceUserListInfo(std::vector<DeviceUserInfo>& users);
    // Saves the page as copyright.html in the application-data folder and
    // returns that path, whether or not the download succeeded; empty only
    // when the host registered no data-connection callback.
    std::wstring DownloadZEQCopyright();

private:
    // Benchmarks and fuzz targets feed reply texts to the reply steps without
    // a network round trip; the struct is defined only in bench/ and fuzz/.
    friend struct ReplyStepAccess;

    DeviceIntfZEQ();
    ~DeviceIntfZEQ();

    // Reply steps; their log lines carry the name of the operation they serve.
    bool ParseUserDataStatisRsp(const std::string& reply, DiskStatisInfo& info);
    bool ParseDeviceInfoRsp(const std::string& reply, DeviceInfo& info);
    std::vector<DiskStatusInfo> ParseDiskStatusRsp(const std::string& reply);
    bool ParseUserListRsp(const std::string& reply, std::vector<DeviceUserInfo>& users);
};
