#include "DeviceCommands.h"

#include "Commands.h"
#include "Session.h"
#include "TlsCheck.h"

#include "platform/TextCodec.h"
#include "services/DeviceIntfZEQ.h"

#include <filesystem>
#include <system_error>

namespace zeqctl {

namespace {

Json::Value I(std::int64_t v) {
    return static_cast<Json::Int64>(v);
}

const std::vector<Column> kIdentity{{"deviceName", "Name"},
                                    {"friendlyName", "Friendly name"},
                                    {"serialNumber", "Serial number"},
                                    {"macAddress", "MAC address"}};

const std::vector<Column> kDisk{
    {"totalSize", "Capacity", Shown::Bytes},      {"usedSize", "Used", Shown::Bytes},
    {"userUsage", "Your files", Shown::Bytes},    {"membersUsage", "Other members", Shown::Bytes},
    {"publicUsage", "Public area", Shown::Bytes}, {"singleUsage", "Single copy", Shown::Bytes},
    {"doubleUsage", "Double copy", Shown::Bytes}};

Json::Value FetchDisk(Session& session) {
    DiskStatisInfo disk;
    session.Read("disk statistics",
                 [&] { return DeviceIntfZEQ::Instance().GetUserDataStatisInfo(disk); });
    Json::Value v;
    v["totalSize"] = I(disk.totalSize);
    v["usedSize"] = I(disk.usedSize);
    v["userUsage"] = I(disk.userUsage);
    v["membersUsage"] = I(disk.membersUsage);
    v["publicUsage"] = I(disk.publicUsage);
    v["singleUsage"] = I(disk.singleUsage);
    v["doubleUsage"] = I(disk.doubleUsage);
    return v;
}

void Users(Session& session) {
    std::vector<DeviceUserInfo> users;
    session.Read("user list",
                 [&] { return DeviceIntfZEQ::Instance().GetDeviceUserListInfo(users); });
    Json::Value doc;
    doc["users"] = Json::Value(Json::arrayValue);
    for (const auto& u : users) {
        Json::Value v;
        v["uid"] = I(u.uid);
        v["userId"] = I(u.userId);
        v["name"] = u.name;
        v["nick"] = u.nick;
        v["level"] = u.level;
        v["state"] = u.state;
        doc["users"].append(v);
    }
    session.Out().Emit(doc, [&] {
        session.Out().Table(doc["users"], {{"uid", "UID", Shown::Count},
                                           {"userId", "USER ID", Shown::Count},
                                           {"level", "LEVEL", Shown::Count},
                                           {"state", "STATE", Shown::Count},
                                           {"name", "NAME"},
                                           {"nick", "NICK"}});
    });
}

void Slots(Session& session) {
    std::vector<DiskStatusInfo> slots;
    session.Retrying([&] {
        session.Begin();
        // An empty list is also what a failed request gives; the log tells which.
        slots = DeviceIntfZEQ::Instance().GetDiskStatusInfo();
        session.FailIfLogged("disk slots");
    });
    Json::Value doc;
    doc["slots"] = Json::Value(Json::arrayValue);
    for (const auto& s : slots) {
        Json::Value v;
        v["slot"] = s.slot;
        v["newSlot"] = s.newSlot;
        v["sn"] = s.sn;
        v["isExist"] = s.isExist != 0;
        v["eventType"] = s.eventType;
        v["usedSize"] = s.usedSize;
        v["totalSize"] = s.totalSize;
        v["capacityLevel"] = s.diskCapacityLevel;
        doc["slots"].append(v);
    }
    session.Out().Emit(doc, [&] {
        session.Out().Table(doc["slots"], {{"slot", "SLOT", Shown::Count},
                                           {"newSlot", "NEW SLOT", Shown::Count},
                                           {"isExist", "PRESENT"},
                                           {"eventType", "EVENT", Shown::Count},
                                           {"usedSize", "USED", Shown::Count},
                                           {"totalSize", "TOTAL", Shown::Count},
                                           {"capacityLevel", "LEVEL", Shown::Count},
                                           {"sn", "SERIAL"}});
    });
}

void Copyright(Session& session) {
    session.Begin();
    // The path comes back whether or not the download worked; only the log
    // of the generic HTTP service tells.
    const auto file = platform::WideToUtf8Lossy(DeviceIntfZEQ::Instance().DownloadZEQCopyright());
    session.FailIfLogged("copyright page");
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (file.empty() || ec) {
        session.Fail("copyright page");
    }
    Json::Value doc;
    doc["path"] = file;
    doc["bytes"] = static_cast<Json::UInt64>(size);
    session.Out().Emit(doc, [&] { session.Out().Line("copyright page saved to " + file); });
}

void ShowFingerprint(Session& session) {
    DeviceInfo info;
    session.Read("device info", [&] { return DeviceIntfZEQ::Instance().GetDeviceInfo(info); });
    const auto seen = TlsCheck::Observation().leaf;
    if (!seen) {
        throw CommandError(ExitCode::Connection, "no certificate was seen");
    }
    Json::Value doc;
    doc["url"] = session.Device().BaseUrl();
    doc["fingerprint"] = TlsCheck::Format(*seen);
    session.Out().Emit(doc, [&] { session.Out().Line(doc["fingerprint"].asString()); });
}

} // namespace

Json::Value FetchDeviceInfo(Session& session) {
    DeviceInfo info;
    session.Read("device info", [&] { return DeviceIntfZEQ::Instance().GetDeviceInfo(info); });
    Json::Value doc;
    doc["url"] = session.Device().BaseUrl();
    doc["deviceName"] = info.deviceName;
    doc["friendlyName"] = info.friendlyName;
    doc["serialNumber"] = info.serialNumber;
    doc["macAddress"] = info.macAddress;
    doc["disk"] = FetchDisk(session);
    return doc;
}

void ShowDeviceInfo(Session& session, const Json::Value& doc) {
    // One block, so the labels of identity and capacity line up.
    Json::Value flat = doc;
    flat["totalSize"] = doc["disk"]["totalSize"];
    flat["usedSize"] = doc["disk"]["usedSize"];
    std::vector<Column> columns{{"url", "Device"}};
    columns.insert(columns.end(), kIdentity.begin(), kIdentity.end());
    columns.push_back(kDisk[0]);
    columns.push_back(kDisk[1]);
    session.Out().Fields(flat, columns);
}

void AddDeviceCommands(CLI::App& app, Action& chosen) {
    auto* group = app.add_subcommand("device", "The device: identity, disks, users");
    group->require_subcommand(1);

    OnRun(group->add_subcommand("info", "Name, serial number, MAC address and capacity"), chosen,
          [](Session& s) {
              const auto doc = FetchDeviceInfo(s);
              s.Out().Emit(doc, [&] { ShowDeviceInfo(s, doc); });
          });
    OnRun(group->add_subcommand("disk", "Storage statistics"), chosen, [](Session& s) {
        const auto doc = FetchDisk(s);
        s.Out().Emit(doc, [&] { s.Out().Fields(doc, kDisk); });
    });
    OnRun(group->add_subcommand("users", "Users of the device"), chosen, &Users);
    OnRun(group->add_subcommand("slots", "Disk slot events"), chosen, &Slots);
    OnRun(group->add_subcommand("copyright", "Save the device's copyright page"), chosen,
          &Copyright);
    OnRun(group->add_subcommand("fingerprint",
                                "SHA-256 fingerprint of the device's certificate, for --pin"),
          chosen, &ShowFingerprint);
}

} // namespace zeqctl
