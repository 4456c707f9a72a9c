#include "emulator/FileTasks.h"

#include "emulator/ApiError.h"
#include "emulator/ErrorCodes.h"
#include "emulator/FileArea.h"
#include "emulator/TaskCenter.h"

namespace zeqemu {

namespace {

// Task types of the file-service family.
constexpr int kTypeRecycle = 400;
constexpr int kTypeDeleteForever = 401;
constexpr int kTypeRestore = 402;
constexpr int kTypeRemove = 403;
constexpr int kTypeClear = 404;
constexpr int kTypeBatchRecycle = 405;
constexpr int kTypeBatchDeleteForever = 406;
constexpr int kTypeBatchRestore = 407;
constexpr int kTypeBatchRemove = 408;

bool IsRestore(const std::string& action) {
    return action == "restore" || action == "recover";
}

} // namespace

std::int64_t FileTasks::Delete(const std::string& category, const std::vector<std::string>& paths,
                               const std::string& type) {
    const bool forever = type == "force";
    return Paths(forever ? kTypeDeleteForever : kTypeRecycle, category, paths, forever, "", 0);
}

std::int64_t FileTasks::BinAction(const std::string& action, const std::vector<std::int64_t>& ids,
                                  const std::string& category) {
    if (action == "clear") {
        return Bin(kTypeClear, "remove", {}, true, category, "", 0);
    }
    if (IsRestore(action)) {
        return Bin(kTypeRestore, action, ids, false, category, "", 0);
    }
    if (action == "remove") {
        return Bin(kTypeRemove, action, ids, false, category, "", 0);
    }
    throw ApiError::BadRequest(code::kBadField, "action must be restore, recover, remove or clear");
}

std::int64_t FileTasks::StartBatch(const Batch& batch) {
    const auto& op = batch.operation;
    if (op == "recycle" || op == "delete" || op == "force") {
        const bool forever = op == "force";
        return Paths(forever ? kTypeBatchDeleteForever : kTypeBatchRecycle, batch.category,
                     batch.srcPaths, forever, batch.transId, batch.subTaskId);
    }
    if (IsRestore(op)) {
        return Bin(kTypeBatchRestore, op, batch.rids, false, "", batch.transId, batch.subTaskId);
    }
    if (op == "remove" || op == "clear") {
        return Bin(kTypeBatchRemove, "remove", batch.rids, op == "clear", batch.category,
                   batch.transId, batch.subTaskId);
    }
    throw ApiError::BadRequest(code::kBadField, "unknown operation \"" + op + "\"");
}

std::int64_t FileTasks::Paths(int taskType, const std::string& category,
                              const std::vector<std::string>& paths, bool forever,
                              const std::string& transId, std::int64_t subTaskId) {
    if (paths.empty()) {
        throw ApiError::BadRequest(code::kMissingField, "srcPath names no file");
    }
    for (const auto& path : paths) {
        m_s.files.RequireDeletable(category, path);
    }
    TaskPlan plan;
    plan.family = TaskFamily::FileService;
    plan.taskType = taskType;
    plan.originObjectName = paths.front();
    plan.transId = transId;
    plan.subTaskId = subTaskId;
    Json::Value recipe;
    recipe["kind"] = forever ? "delete" : "recycle";
    recipe["category"] = category;
    for (const auto& path : paths) {
        recipe["paths"].append(path);
    }
    plan.recipe = recipe;
    plan.planner = Planner(recipe);
    return m_s.tasks.Submit(std::move(plan));
}

std::int64_t FileTasks::Bin(int taskType, const std::string& action,
                            const std::vector<std::int64_t>& ids, bool everything,
                            const std::string& category, const std::string& transId,
                            std::int64_t subTaskId) {
    if (!everything && ids.empty()) {
        throw ApiError::BadRequest(code::kMissingField, "no recycle bin ids given");
    }
    TaskPlan plan;
    plan.family = TaskFamily::FileService;
    plan.taskType = taskType;
    plan.originObjectName = everything ? "recycle bin" : std::to_string(ids.size()) + " entries";
    plan.transId = transId;
    plan.subTaskId = subTaskId;
    Json::Value recipe;
    recipe["kind"] = IsRestore(action) ? "restore" : "purge";
    recipe["category"] = category;
    recipe["everything"] = everything;
    recipe["ids"] = Json::Value(Json::arrayValue);
    for (const auto id : ids) {
        recipe["ids"].append(static_cast<Json::Int64>(id));
    }
    plan.recipe = recipe;
    plan.planner = Planner(recipe);
    return m_s.tasks.Submit(std::move(plan));
}

Json::Value FileTasks::CopyRecipe(bool move, const std::string& sCategory,
                                  const std::vector<std::string>& sources,
                                  const std::string& dCategory, const std::string& dPath) {
    Json::Value recipe;
    recipe["kind"] = move ? "move" : "copy";
    recipe["sCategory"] = sCategory;
    recipe["dCategory"] = dCategory;
    recipe["dPath"] = dPath;
    for (const auto& source : sources) {
        recipe["paths"].append(source);
    }
    return recipe;
}

TaskPlan::Planner FileTasks::Planner(const Json::Value& recipe) const {
    auto& files = m_s.files;
    const auto kind = recipe["kind"].asString();
    std::vector<std::string> paths;
    for (const auto& path : recipe["paths"]) {
        paths.push_back(path.asString());
    }
    if (kind == "delete" || kind == "recycle") {
        const auto category = recipe["category"].asString();
        const bool forever = kind == "delete";
        return [&files, category, paths, forever] {
            std::vector<TaskStep> steps;
            for (const auto& path : paths) {
                steps.push_back({path, "", [&files, category, path, forever] {
                                     if (forever) {
                                         files.RemoveForever(category, path);
                                     } else {
                                         files.Recycle(category, path);
                                     }
                                 }});
            }
            return steps;
        };
    }
    if (kind == "restore" || kind == "purge") {
        const auto category = recipe["category"].asString();
        const bool everything = recipe["everything"].asBool();
        const bool restore = kind == "restore";
        std::vector<std::int64_t> ids;
        for (const auto& id : recipe["ids"]) {
            ids.push_back(id.asInt64());
        }
        return [&files, ids, everything, category, restore] {
            std::vector<TaskStep> steps;
            for (const auto rid : everything ? files.BinIds(category) : ids) {
                const auto origin = files.BinOrigin(rid);
                steps.push_back({origin.empty() ? "entry " + std::to_string(rid) : origin,
                                 std::to_string(rid), [&files, rid, restore] {
                                     if (restore) {
                                         files.Restore(rid);
                                     } else {
                                         files.Purge(rid);
                                     }
                                 }});
            }
            return steps;
        };
    }
    if (kind == "copy" || kind == "move") {
        const auto sCategory = recipe["sCategory"].asString();
        const auto dCategory = recipe["dCategory"].asString();
        const auto dPath = recipe["dPath"].asString();
        if (kind == "move") {
            return [&files, paths, sCategory, dCategory, dPath] {
                std::vector<TaskStep> steps;
                for (const auto& source : paths) {
                    steps.push_back({source, "", [&files, source, sCategory, dCategory, dPath] {
                                         files.Move(sCategory, source, dCategory, dPath);
                                     }});
                }
                return steps;
            };
        }
        return [&files, paths, sCategory, dCategory, dPath] {
            std::vector<TaskStep> steps;
            for (const auto& source : paths) {
                for (const auto& step : files.PlanCopy(sCategory, source, dCategory, dPath)) {
                    steps.push_back(
                        {step.srcPath, "", [&files, step] { files.RunCopyStep(step); }});
                }
            }
            return steps;
        };
    }
    return {};
}

} // namespace zeqemu
