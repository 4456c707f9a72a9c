#pragma once

#include "emulator/Services.h"
#include "emulator/TaskCenter.h"

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zeqemu {

// Builds the file-service tasks (deletions, recycle-bin work, batches): checks
// the request up front, so a bad path is refused at once instead of becoming
// a failed task, and queues one step per entry.
class FileTasks {
public:
    struct Batch {
        std::string category;
        std::string operation;
        std::string name;
        std::vector<std::string> srcPaths;
        std::vector<std::int64_t> rids;
        std::string transId;
        std::int64_t subTaskId = 0;
    };

    explicit FileTasks(Services services) : m_s(services) {}

    // type "force" deletes for good; anything else moves into the recycle bin.
    std::int64_t Delete(const std::string& category, const std::vector<std::string>& paths,
                        const std::string& type);
    // action "restore"/"recover", "remove" or "clear" (ids ignored).
    std::int64_t BinAction(const std::string& action, const std::vector<std::int64_t>& ids,
                           const std::string& category);
    std::int64_t StartBatch(const Batch& batch);
    // Copies or moves sources into the folder dPath, one task.
    static Json::Value CopyRecipe(bool move, const std::string& sCategory,
                                  const std::vector<std::string>& sources,
                                  const std::string& dCategory, const std::string& dPath);

    // The planner a recipe describes (also for a task saved before a restart);
    // empty for a recipe of no file task.
    TaskPlan::Planner Planner(const Json::Value& recipe) const;
    // Whether the change a step noted (TaskStep::Note) reached the disk.
    bool Happened(const Json::Value& intent) const;

private:
    std::int64_t Paths(int taskType, const std::string& category,
                       const std::vector<std::string>& paths, bool forever,
                       const std::string& transId, std::int64_t subTaskId);
    std::int64_t Bin(int taskType, const std::string& action, const std::vector<std::int64_t>& ids,
                     bool everything, const std::string& category, const std::string& transId,
                     std::int64_t subTaskId);

    Services m_s;
};

} // namespace zeqemu
