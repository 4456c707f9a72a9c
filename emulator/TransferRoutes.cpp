#include "emulator/TransferRoutes.h"

#include "emulator/ApiError.h"
#include "emulator/ErrorCodes.h"
#include "emulator/FileArea.h"
#include "emulator/FileTasks.h"
#include "emulator/Gallery.h"
#include "emulator/TaskCenter.h"

namespace zeqemu {

namespace {

// Task types of the transfer family.
constexpr int kTypeCopy = 100;
constexpr int kTypeMove = 101;
constexpr int kTypeGalleryToFile = 200;
constexpr int kTypeFileToGallery = 201;
constexpr int kTypeGalleryToAlbum = 202;

using Q = ApiRequest;

Json::Int64 J(std::int64_t v) {
    return static_cast<Json::Int64>(v);
}

bool IsGallery(const std::string& service) {
    return service == "gallery";
}

bool IsFile(const std::string& service) {
    return service == "file" || service == "filesvc";
}

} // namespace

void TransferRoutes::Register(Router& r) {
    r.Post("trans/copy", [this](const ApiRequest& q) { return CopyOrMove(q, false); });
    r.Post("trans/move", [this](const ApiRequest& q) { return CopyOrMove(q, true); });
    r.Post("trans/acrosscopy", [this](const ApiRequest& q) { return CopyAcross(q); });
}

Json::Value TransferRoutes::TaskResult(const std::string& name, std::int64_t taskId) const {
    Json::Value v;
    v["name"] = name;
    v["id"] = J(taskId);
    if (m_s.caps.Has(Capabilities::kTransTaskCenter)) {
        const auto task = m_s.tasks.Get(taskId);
        v["centerId"] = J(taskId);
        v["subtaskId"] = J(task.subTaskId);
        v["transId"] = task.transId;
    }
    return v;
}

ApiReply TransferRoutes::CopyOrMove(const ApiRequest& q, bool move) {
    const auto& tasks = Q::Array(q.Body(), "tasks");
    if (tasks.empty()) {
        throw ApiError::BadRequest(code::kMissingField, "tasks names no transfer");
    }
    const bool taskCenter = m_s.caps.Has(Capabilities::kTransTaskCenter);
    const auto fallbackCategory = q.QueryText("category", "user");
    // Everything is checked before anything starts: one bad entry refuses all.
    std::vector<TaskPlan> plans;
    for (const auto& t : tasks) {
        std::vector<std::string> sources;
        for (const auto& path : Q::Array(t, "sPaths")) {
            sources.push_back(Q::TextElement(path, "sPaths"));
        }
        if (sources.empty()) {
            throw ApiError::BadRequest(code::kMissingField, "sPaths names no file");
        }
        const auto sCategory = Q::Text(t, "sCategory", fallbackCategory);
        const auto dCategory = Q::Text(t, "dCategory", fallbackCategory);
        const auto dPath = Q::Text(t, "dPath");
        for (const auto& source : sources) {
            m_s.files.RequireExisting(sCategory, source);
        }
        m_s.files.RequireExisting(dCategory, dPath);
        Q::Int(t, "dVersion", 0);

        TaskPlan plan;
        plan.family = TaskFamily::Transfer;
        plan.taskType = move ? kTypeMove : kTypeCopy;
        plan.originObjectName = Q::Text(t, "name", sources.front());
        plan.destination = dPath;
        if (taskCenter) {
            plan.transId = Q::Text(t, "transId", "");
            plan.subTaskId = Q::Int(t, "subTaskId", 0);
        }
        plan.recipe = FileTasks::CopyRecipe(move, sCategory, sources, dCategory, dPath);
        plan.planner = FileTasks(m_s).Planner(plan.recipe);
        plans.push_back(std::move(plan));
    }
    Json::Value list(Json::arrayValue);
    for (auto& plan : plans) {
        const auto name = plan.originObjectName;
        list.append(TaskResult(name, m_s.tasks.Submit(std::move(plan))));
    }
    Json::Value out;
    out["desc"] = "";
    out["data"]["tasks"] = list;
    return ApiReply::Ok(out);
}

ApiReply TransferRoutes::CopyAcross(const ApiRequest& q) {
    const auto& b = q.Body();
    Q::Text(b, "deviceId");
    const auto& src = Q::Object(b, "src");
    const auto& dest = Q::Object(b, "dest");
    const auto srcService = Q::Text(src, "service");
    const auto destService = Q::Text(dest, "service");
    const auto srcFiles = Q::OptArray(src, "files");
    const auto destDirs = Q::OptArray(dest, "dirs");
    if (srcFiles.empty() || destDirs.empty()) {
        throw ApiError::BadRequest(code::kMissingField,
                                   "src.files and dest.dirs must not be empty");
    }

    struct Source {
        std::int64_t fid;
        std::string path, category;
    };
    struct Target {
        std::int64_t albumId;
        int albumType;
        std::string path, category;
    };
    std::vector<Source> sources;
    for (const auto& f : srcFiles) {
        sources.push_back({Q::Int(f, "fid"), Q::Text(f, "path", ""), Q::Text(f, "category", "")});
    }
    std::vector<Target> targets;
    for (const auto& d : destDirs) {
        targets.push_back({Q::Int(d, "albumId", 0), Q::Int32(d, "albumType", 0),
                           Q::Text(d, "path", ""), Q::Text(d, "category", "")});
    }

    int type = 0;
    if (IsGallery(srcService) && IsFile(destService)) {
        type = kTypeGalleryToFile;
        for (const auto& s : sources) {
            std::string name;
            m_s.gallery.MediaFile(s.fid, name);
        }
        for (const auto& t : targets) {
            m_s.files.RequireExisting(t.category, t.path);
        }
    } else if (IsFile(srcService) && IsGallery(destService)) {
        type = kTypeFileToGallery;
        for (const auto& s : sources) {
            m_s.files.OpenFile(s.category, s.path);
        }
    } else if (IsGallery(srcService) && IsGallery(destService)) {
        type = kTypeGalleryToAlbum;
    } else {
        throw ApiError::BadRequest(code::kBadField, "services must be \"gallery\" or \"file\"");
    }
    for (const auto& t : targets) {
        if (IsGallery(destService) && t.albumId > 0) {
            m_s.gallery.RequireAlbum(t.albumId, t.albumType);
        }
    }

    TaskPlan plan;
    plan.family = TaskFamily::Transfer;
    plan.taskType = type;
    plan.originObjectName = Q::Text(b, "name", std::to_string(sources.size()) + " files");
    plan.destination = targets.front().path;
    if (m_s.caps.Has(Capabilities::kTransTaskCenter)) {
        plan.transId = Q::Text(b, "transId", "");
        plan.subTaskId = Q::Int(b, "subTaskId", 0);
    }
    auto& files = m_s.files;
    auto& gallery = m_s.gallery;
    const auto deviceId = Q::Text(b, "deviceId");
    // A step per source and target; a retry leaves out those that ran.
    plan.planner = [&files, &gallery, sources, targets, type,
                    deviceId](const std::set<std::string>& done) {
        std::vector<TaskStep> steps;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            for (std::size_t j = 0; j < targets.size(); ++j) {
                const auto key = std::to_string(i) + "/" + std::to_string(j);
                if (done.count(key) != 0) {
                    continue;
                }
                const auto& s = sources[i];
                const auto& t = targets[j];
                const auto label = s.path.empty() ? "file " + std::to_string(s.fid) : s.path;
                steps.push_back(
                    {label, std::to_string(s.fid),
                     [&files, &gallery, s, t, type, deviceId](const TaskStep::Note&) {
                         if (type == kTypeGalleryToFile) {
                             std::string name;
                             const auto media = gallery.MediaFile(s.fid, name);
                             files.Import(media, name, t.category, t.path);
                         } else if (type == kTypeFileToGallery) {
                             const auto file = files.OpenFile(s.category, s.path);
                             const auto id = gallery.ImportItem(
                                 file.Get(), s.path.substr(s.path.rfind('/') + 1), deviceId);
                             if (t.albumId > 0) {
                                 gallery.AddMember(t.albumId, id, 0);
                             }
                         } else {
                             if (!gallery.HasLiveItem(s.fid)) {
                                 throw ApiError::Device(code::kNoSuchGalleryFile,
                                                        "no gallery file " + std::to_string(s.fid));
                             }
                             if (t.albumId > 0) {
                                 gallery.AddMember(t.albumId, s.fid, 0);
                             }
                         }
                     },
                     key});
            }
        }
        return steps;
    };
    const auto name = plan.originObjectName;
    const auto id = m_s.tasks.Submit(std::move(plan));
    Json::Value out;
    out["desc"] = "";
    out["data"]["tasks"].append(TaskResult(name, id));
    return ApiReply::Ok(out);
}

} // namespace zeqemu
