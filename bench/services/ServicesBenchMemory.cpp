// Peak memory of every list reply step beyond the records it returns, as a
// share of the reply's size, and of the album members body. Each case runs in
// a fresh process (this executable started again with the case's name), so
// one case's freed memory cannot serve another.
#include "CountingMalloc.h"
#include "ListSteps.h"

#include "core/ObjectToJson.h"
#include "platform/GlobalParamWrapper.h"
#include "platform/Scribo.h"
#include "services/AlbumModels.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

double MiB(double bytes) {
    return bytes / (1024.0 * 1024.0);
}

struct Heap {
    std::size_t peak = 0; // above what was live before the work
    std::size_t held = 0; // still live after it: what the caller keeps
};

// Runs work once; what it returns is held, as a caller would, until measured.
template <typename Work> Heap Measure(Work work) {
    const std::size_t before = countingmalloc::CurrentBytes();
    countingmalloc::ResetPeak();
    [[maybe_unused]] auto kept = work();
    return {countingmalloc::PeakBytes() - before, countingmalloc::CurrentBytes() - before};
}

int RunListStep(const servicesbench::ListStep& step) {
    const std::string page = step.page(step.items);
    // The service singletons live for the process: built before measuring.
    step.run("{}");
    const Heap heap = Measure([&] { return step.run(page); });
    const double extra = static_cast<double>(heap.peak - heap.held);
    const double ratio = extra / static_cast<double>(page.size());
    const bool met = ratio <= 2.0;
    std::printf("%-24s reply %6.1f MiB, records %6.1f MiB, extra peak %6.1f MiB: "
                "%.2fx the reply (target <= 2.00) %s\n",
                step.name, MiB(static_cast<double>(page.size())),
                MiB(static_cast<double>(heap.held)), MiB(extra), ratio, met ? "met" : "MISSED");
    std::fflush(stdout);
    return 0;
}

int RunCase(const std::string& name) {
    Scribo::SetSink([](const Scribo::LogRecord&) {});
    GlobalParamWrapper::GetInstance()->SetReqDeviceId("bench-device");
    for (const servicesbench::ListStep& step : servicesbench::ListSteps()) {
        if (name == step.name) {
            return RunListStep(step);
        }
    }
    if (name == "object-to-json") {
        ChgAlbumMembsReq request{3, "bench-device", 4242, "Summer by the lake", 1, {}, 0};
        for (std::int64_t i = 0; i < 10000; ++i) {
            request.membs.push_back(AlbumMembFileItem{100000 + i * 3});
        }
        const Heap heap = Measure([&] {
            std::string out;
            ObjectToJson(request, out);
            return out;
        });
        std::printf("album members body: ObjectToJson heap peak +%.1f MiB, held after +%.1f MiB\n",
                    MiB(static_cast<double>(heap.peak)), MiB(static_cast<double>(heap.held)));
        return 0;
    }
    std::fprintf(stderr, "unknown case %s\n", name.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        return RunCase(argv[1]);
    }
    std::vector<std::string> cases;
    for (const servicesbench::ListStep& step : servicesbench::ListSteps()) {
        cases.emplace_back(step.name);
    }
    cases.emplace_back("object-to-json");
    int failures = 0;
    for (const std::string& name : cases) {
        std::vector<char*> args{argv[0], const_cast<char*>(name.c_str()), nullptr};
        pid_t child = 0;
        int status = 0;
        if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, args.data(), environ) != 0 ||
            waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "memory case %s failed\n", name.c_str());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
