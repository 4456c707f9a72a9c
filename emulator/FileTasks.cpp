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

// What a step notes before its change (see FileTasks::Happened): the entry
// at path is there once the change happened, or gone, or a bin entry is gone.
Json::Value Lands(const std::string& category, const std::string& path, bool present = true) {
    Json::Value intent;
    intent["category"] = category;
    intent["path"] = path;
    intent["present"] = present;
    return intent;
}

Json::Value LeavesBin(std::int64_t rid) {
    Json::Value intent;
    intent["rid"] = static_cast<Json::Int64>(rid);
    return intent;
}

FileArea::Placing NoteLanding(const TaskStep::Note& note, const std::string& category) {
    return [&note, category](const std::string& landing) { note(Lands(category, landing)); };
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
    // A step's change is its path's place in the recipe, or its bin entry.
    if (kind == "delete" || kind == "recycle") {
        const auto category = recipe["category"].asString();
        const bool forever = kind == "delete";
        return [&files, category, paths, forever](const std::set<std::string>& done) {
            std::vector<TaskStep> steps;
            for (std::size_t i = 0; i < paths.size(); ++i) {
                const auto key = std::to_string(i);
                if (done.count(key) != 0) {
                    continue;
                }
                const auto& path = paths[i];
                const auto run = [&files, category, path, forever](const TaskStep::Note& note) {
                    note(Lands(category, path, false));
                    if (forever) {
                        files.RemoveForever(category, path);
                    } else {
                        files.Recycle(category, path);
                    }
                };
                steps.push_back({path, "", run, key});
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
        return [&files, ids, everything, category, restore](const std::set<std::string>& done) {
            std::vector<TaskStep> steps;
            for (const auto rid : everything ? files.BinIds(category) : ids) {
                const auto key = std::to_string(rid);
                if (done.count(key) != 0) {
                    continue;
                }
                const auto origin = files.BinOrigin(rid);
                const auto run = [&files, rid, restore](const TaskStep::Note& note) {
                    note(LeavesBin(rid));
                    if (restore) {
                        files.Restore(rid);
                    } else {
                        files.Purge(rid);
                    }
                };
                steps.push_back({origin.empty() ? "entry " + key : origin, key, run, key});
            }
            return steps;
        };
    }
    if (kind == "copy" || kind == "move") {
        const auto sCategory = recipe["sCategory"].asString();
        const auto dCategory = recipe["dCategory"].asString();
        const auto dPath = recipe["dPath"].asString();
        const bool move = kind == "move";
        return
            [&files, paths, sCategory, dCategory, dPath, move](const std::set<std::string>& done) {
                std::vector<TaskStep> steps;
                for (std::size_t i = 0; i < paths.size(); ++i) {
                    const auto key = std::to_string(i);
                    if (done.count(key) != 0) {
                        continue;
                    }
                    const auto& source = paths[i];
                    if (move) {
                        const auto run = [&files, source, sCategory, dCategory,
                                          dPath](const TaskStep::Note& note) {
                            files.Move(sCategory, source, dCategory, dPath,
                                       NoteLanding(note, dCategory));
                        };
                        steps.push_back({source, "", run, key});
                        continue;
                    }
                    // Only the last step of a copy shows; the others fill its staging.
                    for (const auto& step : files.PlanCopy(sCategory, source, dCategory, dPath)) {
                        const auto run = [&files, step, dCategory](const TaskStep::Note& note) {
                            files.RunCopyStep(step, NoteLanding(note, dCategory));
                        };
                        steps.push_back({step.srcPath, "", run, step.last ? key : ""});
                    }
                }
                return steps;
            };
    }
    return {};
}

bool FileTasks::Happened(const Json::Value& intent) const {
    if (intent.isMember("rid")) {
        return !m_s.files.InBin(intent["rid"].asInt64());
    }
    return m_s.files.Holds(intent["category"].asString(), intent["path"].asString()) ==
           intent["present"].asBool();
}

} // namespace zeqemu
