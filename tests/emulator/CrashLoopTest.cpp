// kill -9 at a random moment of each kind of write, many times, and at the
// exact points around the step that makes each change happen: after every
// restart the state files are valid, the listing and the disk agree, no
// temporary shows, every operation happened whole or not at all, an
// interrupted task can be retried to its end without doing anything twice,
// and the next operations work.
//
// ZEQ_CRASH_ROUNDS (default 5, 2 under a sanitizer) sets the random kills per
// kind; ZEQ_CRASH_SEED repeats a run (its seed is printed).

#include "EmulatorClient.h"
#include "EmulatorFixture.h"

#include "emulator/CrashPoint.h"
#include "emulator/UniqueFd.h"

#include <json/reader.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <poll.h>
#include <random>
#include <set>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef ZEQ_EMULATOR_PATH
#error "ZEQ_EMULATOR_PATH must name the zeq-emulator executable"
#endif

namespace emutest {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kFiles = 24;

// Sanitizers slow the emulator down several times over; the default number of
// random kills keeps the suite within CI's time.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kDefaultRounds = 2;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr int kDefaultRounds = 2;
#else
constexpr int kDefaultRounds = 5;
#endif
#else
constexpr int kDefaultRounds = 5;
#endif

// The zeq-emulator program on a data directory, killed by the destructor;
// armed with a crash point, it kills itself there.
class EmulatorProcess {
public:
    EmulatorProcess(const fs::path& dataDir, const std::string& crashAt) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        const std::string dir = dataDir.string();
        std::vector<const char*> args{ZEQ_EMULATOR_PATH, "--port",     "0",           "--data-dir",
                                      dir.c_str(),       "--no-seed",  "--cookie-id", "test-cookie",
                                      "--token",         "test-token", "--max-body",  "67108864"};
        if (!crashAt.empty()) {
            args.push_back("--crash-at");
            args.push_back(crashAt.c_str());
        }
        args.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::execv(ZEQ_EMULATOR_PATH, const_cast<char* const*>(args.data()));
            ::_exit(127);
        }
        ::close(out[1]);
        std::string banner;
        const auto until = std::chrono::steady_clock::now() + 60s;
        while (banner.find("token:") == std::string::npos &&
               std::chrono::steady_clock::now() < until) {
            pollfd ready{out[0], POLLIN, 0};
            char buffer[512];
            if (::poll(&ready, 1, 1000) <= 0) {
                continue;
            }
            const auto got = ::read(out[0], buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            banner.append(buffer, static_cast<std::size_t>(got));
        }
        ::close(out[0]);
        const auto at = banner.find("port:");
        if (at != std::string::npos) {
            m_port = std::atoi(banner.c_str() + at + 5);
        }
    }
    ~EmulatorProcess() { Kill(); }
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;

    int Port() const { return m_port; }
    // Whether the process ended by itself within bound.
    bool WaitForExit(std::chrono::milliseconds bound) {
        // glibc 2.36 declares pidfd_open without C linkage: the system call itself.
        const zeqemu::UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0)));
        pollfd ended{process.Get(), POLLIN, 0};
        if (!process.Valid() || ::poll(&ended, 1, static_cast<int>(bound.count())) != 1) {
            return false;
        }
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        return true;
    }
    void Kill() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

private:
    pid_t m_pid = -1;
    int m_port = 0;
};

std::string Pattern(std::size_t size, char seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(seed + static_cast<char>(i % 251));
    }
    return bytes;
}

std::string OnDisk(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class CrashLoopTest : public ::testing::Test {
protected:
    // An upload still writing when the emulator dies must fail, not end the
    // test process.
    void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }

    fs::path User(const std::string& relative = "") const {
        return m_dir.Path() / "files" / "user" / relative;
    }
    std::string Target(const std::string& path) const {
        return "/filesvc/content?path=" + EmulatorClient::PercentEncode(path);
    }
    // Waits for a task to end; its progress (100 done, -1 failed).
    int Finish(const std::string& family, std::int64_t taskId) const {
        if (taskId == 0) {
            return 100;
        }
        Json::Value body;
        body["taskId"] = static_cast<Json::Int64>(taskId);
        body["category"] = "user";
        // The emulator runs in another process: its records are polled.
        for (const auto until = std::chrono::steady_clock::now() + kTaskBound;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(20ms)) {
            const auto task =
                m_client->Post(family + "/getTaskStatus", body).json["data"]["tasks"][0];
            const auto progress = task["progress"].asInt();
            if (progress == 100 || progress == -1) {
                return progress;
            }
        }
        return 0;
    }
    // The task's id, 0 when refused (nothing to remove).
    std::int64_t Remove(const std::vector<std::string>& paths, const char* type) const {
        Json::Value body;
        for (const auto& path : paths) {
            body["srcPath"].append(path);
        }
        const auto answer = m_client->Post("filesvc/remove", body, {{"type", type}});
        return answer.Code() == 0 ? std::stoll(answer.json["data"]["progressId"].asString()) : 0;
    }
    std::int64_t Transfer(const char* kind, const std::string& from, const std::string& to) const {
        Json::Value task;
        task["sPaths"].append(from);
        task["dPath"] = to;
        Json::Value body;
        body["tasks"].append(task);
        return m_client->Post(std::string("trans/") + kind, body)
            .json["data"]["tasks"][0]["id"]
            .asInt64();
    }
    std::vector<std::int64_t> BinIds() const {
        std::vector<std::int64_t> ids;
        const auto bin =
            m_client->Get("filesvc/recycleFiles", {{"limit", "1000"}, {"offset", "0"}});
        for (const auto& e : bin.json["data"]["files"]) {
            ids.push_back(e["rid"].asInt64());
        }
        return ids;
    }
    std::int64_t BinAction(const char* action, const std::vector<std::int64_t>& ids) const {
        Json::Value body;
        body["action"] = action;
        for (const auto id : ids) {
            body["files"].append(static_cast<Json::Int64>(id));
        }
        const auto answer = m_client->Post("filesvc/recycleDelFiles", body);
        return answer.Code() == 0 ? std::stoll(answer.json["data"]["progressId"].asString()) : 0;
    }
    // Retries an interrupted task, which must then finish.
    void RetryIfInterrupted(const std::string& family, std::int64_t taskId) const {
        if (Finish(family, taskId) == 100) {
            return;
        }
        Json::Value retry;
        retry["taskId"] = static_cast<Json::Int64>(taskId);
        retry["isSupportSubTask"] = 0;
        const auto answer = m_client->Post(family + "/retryTask", retry);
        ASSERT_EQ(answer.Code(), 0) << "an interrupted task can be retried: " << answer.text;
        ASSERT_EQ(Finish(family, taskId), 100) << "the retry finishes";
    }
    void Start(const std::string& crashAt = "") {
        m_client.reset();
        m_process = std::make_unique<EmulatorProcess>(m_dir.Path(), crashAt);
        ASSERT_GT(m_process->Port(), 0) << "the emulator did not start";
        m_client = std::make_unique<EmulatorClient>(m_process->Port(), "test-cookie", "test-token");
    }

    // What holds after any restart, whatever was cut short.
    void CheckConsistent() const {
        for (const auto& entry : fs::directory_iterator(m_dir.Path() / "state")) {
            if (entry.path().extension() == ".tmp") {
                continue; // a save cut short: no reader opens it, the next save replaces it
            }
            Json::Value doc;
            std::ifstream in(entry.path());
            EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &doc, nullptr))
                << entry.path();
        }
        EXPECT_TRUE(fs::is_empty(m_dir.Path() / "staging")) << "a temporary is left";
        // Listing and disk agree, both ways, sizes included.
        std::map<std::string, std::int64_t> listed;
        std::vector<std::string> folders{"/"};
        while (!folders.empty()) {
            const auto folder = folders.back();
            folders.pop_back();
            const auto page = m_client->List(folder, 1000);
            ASSERT_EQ(page.Code(), 0) << page.text;
            for (const auto& e : page.json["data"]["files"]) {
                const auto path = e["path"].asString();
                if (e["type"].asInt() == 1) {
                    listed[path] = e["size"].asInt64();
                } else {
                    listed[path] = -1;
                    folders.push_back(path);
                }
            }
        }
        std::map<std::string, std::int64_t> disk;
        for (auto it = fs::recursive_directory_iterator(User()); it != fs::end(it); ++it) {
            const auto path = "/" + fs::relative(it->path(), User()).generic_string();
            disk[path] = it->is_directory() ? -1 : static_cast<std::int64_t>(it->file_size());
        }
        EXPECT_EQ(listed, disk);
        // Every bin entry has its content, and nothing else is in the bin.
        std::set<std::string> binned;
        for (const auto id : BinIds()) {
            binned.insert(std::to_string(id));
        }
        std::set<std::string> held;
        for (const auto& entry : fs::directory_iterator(m_dir.Path() / "recycle")) {
            held.insert(entry.path().filename().string());
        }
        EXPECT_EQ(binned, held);
    }

    struct Kind {
        const char* name;
        std::chrono::milliseconds window;             // kills land within this after the start
        std::function<void()> prepare;                // the state the operation starts from
        std::function<std::function<void()>()> start; // fires it; returns its wait
        std::function<void()> check;                  // whole or not at all, then finish it
    };

    void Run(const Kind& kind) {
        const char* rounds = std::getenv("ZEQ_CRASH_ROUNDS");
        const int count = rounds != nullptr ? std::atoi(rounds) : kDefaultRounds;
        const char* seedText = std::getenv("ZEQ_CRASH_SEED");
        const auto seed =
            seedText != nullptr ? std::strtoull(seedText, nullptr, 10) : std::random_device{}();
        std::mt19937_64 random(seed);
        SCOPED_TRACE(std::string(kind.name) + " seed " + std::to_string(seed));
        ASSERT_NO_FATAL_FAILURE(Start());
        for (int round = 0; round < count && !HasFailure(); ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            kind.prepare();
            const auto wait = kind.start();
            std::this_thread::sleep_for(std::chrono::milliseconds(
                std::uniform_int_distribution<std::int64_t>(0, kind.window.count())(random)));
            m_process->Kill();
            wait();
            ASSERT_NO_FATAL_FAILURE(Start());
            CheckConsistent();
            kind.check();
            CheckConsistent();
            // The next operations work.
            Json::Value dir;
            dir["path"] = "/next-" + std::to_string(round);
            EXPECT_EQ(m_client->Post("filesvc/mkdir", dir).Code(), 0);
            EXPECT_EQ(m_client->Send("PUT", Target(dir["path"].asString() + "/f"), {}, "ok").Code(),
                      0);
            EXPECT_EQ(Finish("filesvc", Remove({dir["path"].asString()}, "force")), 100);
        }
    }
    // Uploads on their own thread: the request blocks until the kill.
    std::function<void()> Upload(const std::string& path, const std::string& bytes) {
        auto client = std::make_shared<EmulatorClient>(*m_client);
        auto thread = std::make_shared<std::thread>(
            [client, target = Target(path), bytes] { client->Send("PUT", target, {}, bytes); });
        return [thread] { thread->join(); };
    }
    void Put(const std::string& path, const std::string& bytes) const {
        ASSERT_EQ(m_client->Send("PUT", Target(path), {}, bytes).Code(), 0);
    }
    void MakeDirs(std::initializer_list<const char*> paths) const {
        for (const auto* path : paths) {
            Json::Value body;
            body["path"] = path;
            m_client->Post("filesvc/mkdir", body);
        }
    }
    void MakeFiles(const std::string& folder, int count, std::size_t size) const {
        for (int i = 0; i < count; ++i) {
            Put(folder + "/f" + std::to_string(i), Pattern(size, static_cast<char>(i)));
        }
    }
    // A folder holding exactly the files MakeFiles made.
    void ExpectWholeFolder(const std::string& relative, int count, std::size_t size) const {
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(OnDisk(User(relative + "/f" + std::to_string(i))),
                      Pattern(size, static_cast<char>(i)))
                << relative << " f" << i;
        }
    }

    TempDir m_dir;
    std::unique_ptr<EmulatorProcess> m_process;
    std::unique_ptr<EmulatorClient> m_client;
    std::int64_t m_task = 0;
};

TEST_F(CrashLoopTest, Upload) {
    const auto bytes = Pattern(8 << 20, 'u');
    Run({"upload", 150ms, [&] { Finish("filesvc", Remove({"/up.bin"}, "force")); },
         [&] { return Upload("/up.bin", bytes); },
         [&] {
             if (fs::exists(User("up.bin"))) {
                 EXPECT_TRUE(OnDisk(User("up.bin")) == bytes) << "a partial upload shows";
                 Finish("filesvc", Remove({"/up.bin"}, "force"));
             }
         }});
}

TEST_F(CrashLoopTest, Replace) {
    const auto before = Pattern(4 << 20, 'a');
    const auto after = Pattern(8 << 20, 'b');
    Run({"replace", 150ms, [&] { Put("/rep.bin", before); },
         [&] { return Upload("/rep.bin", after); },
         [&] {
             const auto held = OnDisk(User("rep.bin"));
             EXPECT_TRUE(held == before || held == after) << "a torn replace, " << held.size();
         }});
}

TEST_F(CrashLoopTest, Copy) {
    Run({"copy", 100ms,
         [&] {
             if (!fs::exists(User("src"))) {
                 MakeDirs({"/src", "/dst"});
                 MakeFiles("/src", kFiles, 256 << 10);
             }
         },
         [&] {
             m_task = Transfer("copy", "/src", "/dst");
             return [] {};
         },
         [&] {
             // The copy shows whole or not at all; retried, it finishes once.
             if (fs::exists(User("dst/src"))) {
                 ExpectWholeFolder("dst/src", kFiles, 256 << 10);
             }
             RetryIfInterrupted("trans", m_task);
             ExpectWholeFolder("dst/src", kFiles, 256 << 10);
             EXPECT_FALSE(fs::exists(User("dst/src (1)"))) << "the retry copied twice";
             Finish("filesvc", Remove({"/dst/src"}, "force"));
         }});
}

TEST_F(CrashLoopTest, Move) {
    std::string to;
    Run({"move", 40ms,
         [&] {
             if (!fs::exists(User("a")) && !fs::exists(User("b"))) {
                 MakeDirs({"/a", "/b", "/a/tree"});
                 MakeFiles("/a/tree", kFiles, 64 << 10);
             }
         },
         [&] {
             to = fs::exists(User("a/tree")) ? "b" : "a";
             m_task = Transfer("move", (to == "a" ? "/b" : "/a") + std::string("/tree"), "/" + to);
             return [] {};
         },
         [&] {
             const bool inA = fs::exists(User("a/tree"));
             EXPECT_NE(inA, fs::exists(User("b/tree"))) << "moved exactly once";
             ExpectWholeFolder(inA ? "a/tree" : "b/tree", kFiles, 64 << 10);
             RetryIfInterrupted("trans", m_task);
             ExpectWholeFolder(to + "/tree", kFiles, 64 << 10);
         }});
}

// Deletions of many entries in one task: each entry is whole where it was,
// whole in the bin (recycle, restore) or gone (delete).
class BinCrashTest : public CrashLoopTest {
protected:
    std::vector<std::string> All() const {
        std::vector<std::string> all;
        for (int i = 0; i < m_files; ++i) {
            all.push_back("/bin/f" + std::to_string(i));
        }
        return all;
    }
    // All files back in /bin, then (inBin) all of them in the bin.
    void Ensure(bool inBin) {
        MakeDirs({"/bin"});
        if (const auto ids = BinIds(); !ids.empty()) {
            Finish("filesvc", BinAction("restore", ids));
        }
        const auto all = All();
        for (int i = 0; i < m_files; ++i) {
            const auto& path = all[static_cast<std::size_t>(i)];
            if (!fs::exists(User(path.substr(1)))) {
                Put(path, Pattern(m_size, static_cast<char>(i)));
            }
        }
        if (inBin) {
            Finish("filesvc", Remove(all, "recycle"));
        }
    }
    // How many files are whole in /bin, and how many entries the bin holds
    // (each whole).
    std::pair<int, int> Held() const {
        int present = 0;
        for (int i = 0; i < m_files; ++i) {
            const auto path = User("bin/f" + std::to_string(i));
            if (fs::exists(path)) {
                ++present;
                EXPECT_EQ(OnDisk(path), Pattern(m_size, static_cast<char>(i)));
            }
        }
        for (const auto& entry : fs::directory_iterator(m_dir.Path() / "recycle")) {
            EXPECT_EQ(fs::file_size(entry.path()), m_size);
        }
        return {present, static_cast<int>(BinIds().size())};
    }
    // Whole or not at all after the kill; all of it once retried.
    void ExpectBinTask(bool binCounts, std::pair<int, int> retried) {
        const auto [present, binned] = Held();
        EXPECT_EQ(present + (binCounts ? binned : 0), binCounts ? m_files : present);
        EXPECT_TRUE(binCounts || binned == 0);
        RetryIfInterrupted("filesvc", m_task);
        EXPECT_EQ(Held(), retried);
    }

    int m_files = kFiles;
    std::size_t m_size = 256 << 10;
};

TEST_F(BinCrashTest, Recycle) {
    Run({"recycle", 60ms, [&] { Ensure(false); },
         [&] {
             m_task = Remove(All(), "recycle");
             return [] {};
         },
         [&] {
             ExpectBinTask(true, {0, m_files});
         }});
}

TEST_F(BinCrashTest, Restore) {
    Run({"restore", 60ms, [&] { Ensure(true); },
         [&] {
             m_task = BinAction("restore", BinIds());
             return [] {};
         },
         [&] {
             ExpectBinTask(true, {m_files, 0});
         }});
}

TEST_F(BinCrashTest, Delete) {
    Run({"delete", 60ms, [&] { Ensure(false); },
         [&] {
             m_task = Remove(All(), "force");
             return [] {};
         },
         [&] {
             ExpectBinTask(false, {0, 0});
         }});
}

// The emulator dies exactly before or after the step that makes the first
// change of a task happen (a rename; for a purge, the save of the bin). After
// the restart the task comes back interrupted, and its retry finishes what is
// left without doing anything twice; ids and attributes stay with what they
// belong to.
class CrashPointTest : public BinCrashTest, public ::testing::WithParamInterface<std::string> {
protected:
    CrashPointTest() {
        m_files = 3;
        m_size = 4096;
    }
    struct Window {
        const char* family;
        std::function<void()> prepare;
        std::function<std::int64_t()> start; // the task's id
        std::function<void()> check;         // after the retry
    };
    Window For(const std::string& kind) {
        if (kind == "copy") {
            return {"trans",
                    [&] {
                        MakeDirs({"/src", "/dst"});
                        MakeFiles("/src", m_files, m_size);
                        Json::Value attr;
                        attr["path"].append("/src/f1");
                        attr["attr"] = 2;
                        ASSERT_EQ(m_client->Post("filesvc/redundancy", attr).Code(), 0);
                    },
                    [&] { return Transfer("copy", "/src", "/dst"); },
                    [&] {
                        ExpectWholeFolder("dst/src", m_files, m_size);
                        EXPECT_FALSE(fs::exists(User("dst/src (1)"))) << "copied twice";
                        EXPECT_EQ(EntryNamed(m_client->List("/dst/src"), "f1")["attr"].asInt(), 2);
                    }};
        }
        if (kind == "move") {
            return {"trans",
                    [&] {
                        MakeDirs({"/a", "/b", "/a/tree"});
                        MakeFiles("/a/tree", m_files, m_size);
                        m_ids = {EntryNamed(m_client->List("/a"), "tree")["id"].asInt64(),
                                 EntryNamed(m_client->List("/a/tree"), "f1")["id"].asInt64()};
                    },
                    [&] { return Transfer("move", "/a/tree", "/b"); },
                    [&] {
                        EXPECT_FALSE(fs::exists(User("a/tree")));
                        ExpectWholeFolder("b/tree", m_files, m_size);
                        const std::vector<std::int64_t> ids{
                            EntryNamed(m_client->List("/b"), "tree")["id"].asInt64(),
                            EntryNamed(m_client->List("/b/tree"), "f1")["id"].asInt64()};
                        EXPECT_EQ(ids, m_ids) << "ids follow a move";
                    }};
        }
        const bool toBin = kind == "restore" || kind == "purge";
        Window bin{"filesvc",
                   [&, toBin] {
                       Ensure(toBin);
                       m_ids = {EntryNamed(m_client->List("/bin"), "f0")["id"].asInt64()};
                   },
                   nullptr, nullptr};
        if (kind == "delete" || kind == "recycle") {
            const bool recycle = kind == "recycle";
            bin.start = [&, recycle] { return Remove(All(), recycle ? "recycle" : "force"); };
            bin.check = [&, recycle] {
                EXPECT_EQ(Held(), std::make_pair(0, recycle ? m_files : 0));
                // A new file in the place of one deleted is a new file.
                Put("/bin/f0", "new");
                EXPECT_NE(EntryNamed(m_client->List("/bin"), "f0")["id"].asInt64(), m_ids[0]);
            };
        } else {
            const bool restore = kind == "restore";
            bin.start = [&, restore] {
                return BinAction(restore ? "restore" : "remove", BinIds());
            };
            bin.check = [&, restore] {
                EXPECT_EQ(Held(), std::make_pair(restore ? m_files : 0, 0));
            };
        }
        return bin;
    }

    std::vector<std::int64_t> m_ids;
};

TEST_P(CrashPointTest, TheRetryFinishesWhatTheCrashCutShortOnce) {
    const auto& point = GetParam();
    const auto window = For(point.substr(0, point.find(':')));
    ASSERT_NO_FATAL_FAILURE(Start(point));
    ASSERT_NO_FATAL_FAILURE(window.prepare());
    const auto task = window.start();
    ASSERT_GT(task, 0);
    ASSERT_TRUE(m_process->WaitForExit(kTaskBound)) << "the emulator never reached " << point;
    ASSERT_NO_FATAL_FAILURE(Start());
    CheckConsistent();
    RetryIfInterrupted(window.family, task);
    window.check();
    CheckConsistent();
}

INSTANTIATE_TEST_SUITE_P(EveryPoint, CrashPointTest,
                         ::testing::ValuesIn(zeqemu::crashpoint::Names()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             auto name = info.param;
                             name[name.find(':')] = '_';
                             return name;
                         });

} // namespace
} // namespace emutest
