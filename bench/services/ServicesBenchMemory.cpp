// Peak memory of the photo table reply step against a bare jsoncpp parse of
// the same page, and of the album members body against its hand-written
// twin. Each case runs in a fresh process (this executable started again
// with the case's name), so one case's freed memory cannot serve another.
#include "CountingMalloc.h"
#include "PhotoTablePage.h"
#include "ReplyStepAccess.h"

#include "core/ObjectToJson.h"
#include "platform/GlobalParamWrapper.h"
#include "platform/Scribo.h"
#include "services/AlbumModels.h"

#include <json/reader.h>
#include <json/value.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace {

long MaxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double MiB(double bytes) {
    return bytes / (1024.0 * 1024.0);
}

// Runs work once and prints the heap peak above what was live before it, the
// heap still held after it (what the caller keeps), and the growth of the
// process's peak resident size.
template <typename Work> void Measure(const char* name, Work work) {
    const std::size_t before = countingmalloc::CurrentBytes();
    const long rssBefore = MaxRssKiB();
    countingmalloc::ResetPeak();
    [[maybe_unused]] auto kept = work(); // held until measured, as a caller would
    const std::size_t peak = countingmalloc::PeakBytes();
    const std::size_t after = countingmalloc::CurrentBytes();
    std::printf("%-34s heap peak +%7.1f MiB, held after +%7.1f MiB, maxrss +%7.1f MiB\n", name,
                MiB(static_cast<double>(peak - before)),
                MiB(static_cast<double>(after) - static_cast<double>(before)),
                static_cast<double>(MaxRssKiB() - rssBefore) / 1024.0);
    std::fflush(stdout);
}

int RunCase(const std::string& name) {
    Scribo::SetSink([](const Scribo::LogRecord&) {});
    GlobalParamWrapper::GetInstance()->SetReqDeviceId("bench-device");
    if (name == "reply-step" || name == "jsoncpp-parse") {
        const std::string page = servicesbench::PhotoTablePage(10000);
        // Built before the measurement: the services' singletons live for
        // the process.
        PhotoIntfZEQ::Instance();
        if (name == "reply-step") {
            Measure("photo table: ParseAllMetadataRsp", [&] {
                auto rsp = std::make_unique<GalleryFilesAllMetadataRsp>();
                ReplyStepAccess::ParseAllMetadataRsp(page, *rsp);
                return rsp;
            });
        } else {
            Measure("photo table: bare jsoncpp parse", [&] {
                Json::CharReaderBuilder builder;
                const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
                Json::Value root;
                reader->parse(page.data(), page.data() + page.size(), &root, nullptr);
                return 0;
            });
        }
        return 0;
    }
    if (name == "object-to-json") {
        ChgAlbumMembsReq request{3, "bench-device", 4242, "Summer by the lake", 1, {}, 0};
        for (std::int64_t i = 0; i < 10000; ++i) {
            request.membs.push_back(AlbumMembFileItem{100000 + i * 3});
        }
        Measure("album members body: ObjectToJson", [&] {
            std::string out;
            ObjectToJson(request, out);
            return out;
        });
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
    int failures = 0;
    for (const char* name : {"reply-step", "jsoncpp-parse", "object-to-json"}) {
        std::vector<char*> args{argv[0], const_cast<char*>(name), nullptr};
        pid_t child = 0;
        int status = 0;
        if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, args.data(), environ) != 0 ||
            waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "memory case %s failed\n", name);
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
