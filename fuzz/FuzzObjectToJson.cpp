// ObjectToJson over request records filled from the fuzzer's bytes: the
// library's own records and local ones that stress the field list (repeated
// names, quoted names, an empty last piece, nested records in vectors). The
// text must be one JSON object that reads back to the values that went in.
#include "FuzzSupport.h"

#include "core/JsonUtil.h"
#include "core/ObjectToJson.h"
#include "services/AlbumModels.h"
#include "services/PhotoModels.h"
#include "services/TaskCenterModels.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace {

struct Inner {
    std::uint32_t count = 0;
    std::string label;
    std::vector<std::int32_t> marks;

    static constexpr std::string_view kFieldList = " \"count\" , label,marks,";
    auto Fields() const { return std::tie(count, label, marks); }
};

// "name" twice: only the last value stays, placed last.
struct Repeated {
    std::string name;
    std::int64_t id = 0;
    std::string again;
    std::vector<Inner> inners;
    Inner single;
    std::vector<std::uint64_t> big;

    static constexpr std::string_view kFieldList = "name, id, name, inners, single, big";
    auto Fields() const { return std::tie(name, id, again, inners, single, big); }
};

std::string Bytes(FuzzedDataProvider& input) {
    return input.ConsumeRandomLengthString(64);
}

Inner MakeInner(FuzzedDataProvider& input) {
    Inner inner{input.ConsumeIntegral<std::uint32_t>(), Bytes(input), {}};
    const std::size_t marks = input.ConsumeIntegralInRange<std::size_t>(0, 8);
    for (std::size_t i = 0; i < marks; ++i) {
        inner.marks.push_back(input.ConsumeIntegral<std::int32_t>());
    }
    return inner;
}

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

Json::Value ReadBack(const std::string& text) {
    Json::Value root;
    Require(JsonUtil::StringToCppJsonObj(text, root) && root.isObject());
    return root;
}

void AlbumMembers(FuzzedDataProvider& input) {
    ChgAlbumMembsReq request{input.ConsumeIntegral<std::int32_t>(), Bytes(input),
                             input.ConsumeIntegral<std::int64_t>(), Bytes(input),
                             input.ConsumeIntegral<std::int32_t>(), {},
                             input.ConsumeIntegral<std::int64_t>()};
    const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, 64);
    for (std::size_t i = 0; i < count; ++i) {
        request.membs.push_back(AlbumMembFileItem{input.ConsumeIntegral<std::int64_t>()});
    }
    std::string text;
    Require(ObjectToJson(request, text));
    const Json::Value root = ReadBack(text);
    Require(root.size() == 7);
    Require(root["deviceId"].asString() == request.deviceId);
    Require(root["albumName"].asString() == request.albumName);
    Require(root["albumId"].asInt64() == request.albumId);
    Require(root["membs"].size() == request.membs.size());
    for (std::size_t i = 0; i < request.membs.size(); ++i) {
        Require(root["membs"][static_cast<Json::ArrayIndex>(i)]["fileId"].asInt64() ==
                request.membs[i].fileId);
    }
}

void OtherLibraryRecords(FuzzedDataProvider& input) {
    std::string text;
    AddAlbumWithAttrReq withAttr{
        input.ConsumeIntegral<std::int32_t>(), Bytes(input), Bytes(input),
        input.ConsumeIntegral<std::int32_t>(),
        GalleryAlbumAttr{input.ConsumeIntegral<std::int32_t>(), Bytes(input)}};
    Require(ObjectToJson(withAttr, text));
    Require(ReadBack(text)["albumAttr"]["birth"].asString() == withAttr.albumAttr.birth);

    CleanBinReq clean{input.ConsumeIntegral<std::int32_t>(),
                      Bytes(input),
                      Bytes(input),
                      input.ConsumeIntegral<std::int32_t>(),
                      {}};
    const std::size_t members = input.ConsumeIntegralInRange<std::size_t>(0, 16);
    for (std::size_t i = 0; i < members; ++i) {
        clean.membs.push_back(
            GalleryFileMember{input.ConsumeIntegral<std::int64_t>(), Bytes(input)});
    }
    Require(ObjectToJson(clean, text));
    Require(ReadBack(text)["membs"].size() == clean.membs.size());

    TaskCenterRetryReqBody retry{input.ConsumeIntegral<std::int32_t>(),
                                 input.ConsumeIntegral<std::uint64_t>(),
                                 input.ConsumeIntegral<std::uint64_t>(),
                                 Bytes(input),
                                 Bytes(input),
                                 {}};
    const std::size_t ids = input.ConsumeIntegralInRange<std::size_t>(0, 16);
    for (std::size_t i = 0; i < ids; ++i) {
        retry.objIdList.push_back(input.ConsumeIntegral<std::uint64_t>());
    }
    Require(ObjectToJson(retry, text));
    const Json::Value root = ReadBack(text);
    Require(root["taskId"].asUInt64() == retry.taskId);
    Require(root["objIdList"].size() == retry.objIdList.size());
}

void LocalRecords(FuzzedDataProvider& input) {
    Repeated record;
    record.name = Bytes(input);
    record.id = input.ConsumeIntegral<std::int64_t>();
    record.again = Bytes(input);
    const std::size_t inners = input.ConsumeIntegralInRange<std::size_t>(0, 8);
    for (std::size_t i = 0; i < inners; ++i) {
        record.inners.push_back(MakeInner(input));
    }
    record.single = MakeInner(input);
    const std::size_t big = input.ConsumeIntegralInRange<std::size_t>(0, 8);
    for (std::size_t i = 0; i < big; ++i) {
        record.big.push_back(input.ConsumeIntegral<std::uint64_t>());
    }
    std::string text;
    Require(ObjectToJson(record, text));
    const Json::Value root = ReadBack(text);
    Require(root.size() == 5);
    Require(root["name"].asString() == record.again);
    Require(root["single"]["count"].asUInt() == record.single.count);
    Require(root["single"].size() == 3);
    Require(root["inners"].size() == record.inners.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzsupport::Setup();
    FuzzedDataProvider input(data, size);
    switch (input.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
        AlbumMembers(input);
        break;
    case 1:
        OtherLibraryRecords(input);
        break;
    default:
        LocalRecords(input);
        break;
    }
    return 0;
}
