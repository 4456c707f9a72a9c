#include "Commands.h"
#include "Session.h"
#include "Tasks.h"

#include "services/TaskCenterIntfZEQ.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zeqctl {

namespace {

const std::vector<Column> kTaskColumns{{"taskId", "ID", Shown::Count},
                                       {"family", "FAMILY"},
                                       {"taskType", "TYPE", Shown::Count},
                                       {"state", "STATE"},
                                       {"progress", "%", Shown::Count},
                                       {"items", "ITEMS", Shown::Count},
                                       {"beginTime", "STARTED", Shown::Time},
                                       {"errorCode", "ERROR", Shown::Count},
                                       {"name", "NAME"}};

std::optional<TaskSuperType> Family(const std::string& name) {
    if (name.empty() || name == "all") {
        return std::nullopt;
    }
    return FamilyFromName(name);
}

void AddFamily(CLI::App* sub, std::string& family, bool all) {
    sub->add_option("--family", family,
                    all ? "gallery, trans, file or all"
                        : "gallery, trans or file (found when left out)")
        ->check(all ? CLI::IsMember({"gallery", "trans", "file", "all"})
                    : CLI::IsMember({"gallery", "trans", "file"}));
}

struct ListArgs {
    std::string family = "all";
    std::int32_t category = TASK_CATAGORY_BATCH_LIST;
};

void List(Session& s, const ListArgs& args) {
    Json::Value doc;
    doc["tasks"] = Json::Value(Json::arrayValue);
    for (const auto& task : TaskFollower(s).List(Family(args.family), args.category)) {
        doc["tasks"].append(task.ToJson());
    }
    s.Out().Emit(doc, [&] { s.Out().Table(doc["tasks"], kTaskColumns); });
}

struct WatchArgs {
    std::int64_t taskId = 0;
    std::string family;
    std::int64_t intervalMs = 200;
};

void Watch(Session& s, const WatchArgs& args) {
    TaskFollower follower(s);
    const auto family =
        args.family.empty() ? follower.Locate(args.taskId) : *FamilyFromName(args.family);
    const auto status =
        follower.Follow(family, args.taskId, std::chrono::milliseconds(args.intervalMs));
    const auto doc = status.ToJson();
    s.Out().Emit(doc, [&] {
        std::string line = std::string(FamilyName(family)) + " task " +
                           std::to_string(args.taskId) + " " + status.State();
        if (status.total > 0) {
            line +=
                ": " + std::to_string(status.done) + "/" + std::to_string(status.total) + " items";
        }
        s.Out().Line(line);
    });
    if (status.Failed()) {
        throw CommandError::Device("task " + std::to_string(args.taskId) + " failed with code " +
                                   std::to_string(status.errorCode) +
                                   (status.errorItem.empty() ? "" : " at " + status.errorItem));
    }
}

struct IdsArgs {
    std::vector<std::int64_t> ids;
    std::string family;
};

// Groups ids by family, asking the device where none was named.
std::map<TaskSuperType, std::vector<std::uint64_t>> ByFamily(Session& s, const IdsArgs& args) {
    std::map<TaskSuperType, std::vector<std::uint64_t>> groups;
    TaskFollower follower(s);
    for (const auto id : args.ids) {
        const auto family =
            args.family.empty() ? follower.Locate(id) : *FamilyFromName(args.family);
        groups[family].push_back(static_cast<std::uint64_t>(id));
    }
    return groups;
}

Json::Value IdArray(const std::vector<std::uint64_t>& ids) {
    Json::Value list(Json::arrayValue);
    for (const auto id : ids) {
        list.append(static_cast<Json::UInt64>(id));
    }
    return list;
}

void Clean(Session& s, const IdsArgs& args) {
    std::vector<std::uint64_t> failed;
    // A lambda may not capture a structured binding under clang 14.
    for (const auto& group : ByFamily(s, args)) {
        s.Require("clean " + std::string(FamilyName(group.first)) + " task records", [&] {
            return TaskCenterIntfZEQ::Instance().CleanTaskRecord(group.first, group.second, failed);
        });
    }
    Json::Value doc;
    doc["failed"] = IdArray(failed);
    s.Out().Emit(doc, [&] {
        s.Out().Line("cleaned " + std::to_string(args.ids.size() - failed.size()) + " of " +
                     std::to_string(args.ids.size()) + " task records");
    });
    if (!failed.empty()) {
        throw CommandError::Device("the device kept " + std::to_string(failed.size()) +
                                   " records (still running, or unknown)");
    }
}

struct RetryArgs {
    std::int64_t taskId = 0;
    std::string family;
    bool wait = false;
};

void Retry(Session& s, const RetryArgs& args) {
    const auto family =
        args.family.empty() ? TaskFollower(s).Locate(args.taskId) : *FamilyFromName(args.family);
    TaskCenterRetryReqBody body;
    body.taskId = static_cast<std::uint64_t>(args.taskId);
    TaskCenterRetryReqRsp rsp;
    s.Require("retry task " + std::to_string(args.taskId),
              [&] { return TaskCenterIntfZEQ::Instance().RetryTask(family, body, rsp); });
    ReportStartedTask(s, family, args.taskId, args.wait, Json::Value());
}

void Cancel(Session& s, const std::vector<std::int64_t>& ids) {
    std::vector<std::uint64_t> asked(ids.begin(), ids.end());
    std::vector<std::uint64_t> cancelled;
    s.Require("cancel tasks",
              [&] { return TaskCenterIntfZEQ::Instance().HttpTaskCenterCancel(asked, cancelled); });
    Json::Value doc;
    doc["cancelled"] = IdArray(cancelled);
    s.Out().Emit(doc, [&] {
        s.Out().Line("cancelled " + std::to_string(cancelled.size()) + " of " +
                     std::to_string(ids.size()) + " tasks");
    });
    if (cancelled.size() != ids.size()) {
        throw CommandError::Device("some tasks could not be cancelled (ended already, or unknown)");
    }
}

} // namespace

void AddTaskCommands(CLI::App& app, Action& chosen) {
    auto* group = app.add_subcommand("tasks", "Background tasks of the device");
    group->require_subcommand(1);

    auto list = std::make_shared<ListArgs>();
    auto* ls = group->add_subcommand("ls", "List tasks");
    AddFamily(ls, list->family, true);
    ls->add_option("--category", list->category, "The device's task category (2: every task)");
    OnRun(ls, chosen, [list](Session& s) { List(s, *list); });

    auto watch = std::make_shared<WatchArgs>();
    auto* w = group->add_subcommand("watch", "Follow a task until it ends, with progress");
    w->add_option("task", watch->taskId, "Task id")->required();
    AddFamily(w, watch->family, false);
    w->add_option("--interval", watch->intervalMs, "Milliseconds between looks")
        ->check(CLI::Range(20, 60000));
    OnRun(w, chosen, [watch](Session& s) { Watch(s, *watch); });

    auto clean = std::make_shared<IdsArgs>();
    auto* c = group->add_subcommand("clean", "Remove records of ended tasks");
    c->add_option("tasks", clean->ids, "Task ids")->required();
    AddFamily(c, clean->family, false);
    OnRun(c, chosen, [clean](Session& s) { Clean(s, *clean); });

    auto retry = std::make_shared<RetryArgs>();
    auto* r = group->add_subcommand("retry", "Run a failed or cancelled task again");
    r->add_option("task", retry->taskId, "Task id")->required();
    AddFamily(r, retry->family, false);
    r->add_flag("--wait", retry->wait, "Follow the task to its end");
    OnRun(r, chosen, [retry](Session& s) { Retry(s, *retry); });

    auto cancel = std::make_shared<std::vector<std::int64_t>>();
    auto* x = group->add_subcommand("cancel", "Cancel running tasks");
    x->add_option("tasks", *cancel, "Task ids")->required();
    OnRun(x, chosen, [cancel](Session& s) { Cancel(s, *cancel); });
}

} // namespace zeqctl
