#include "ZeqctlProcess.h"

#include <json/reader.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zeqctltest {

namespace {

class Pipe {
public:
    Pipe() {
        if (::pipe2(m_fds.data(), O_CLOEXEC) != 0) {
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        }
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int Read() const { return m_fds[0]; }
    int Write() const { return m_fds[1]; }
    void CloseRead() { Close(m_fds[0]); }
    void CloseWrite() { Close(m_fds[1]); }

private:
    static void Close(int& fd) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
    std::array<int, 2> m_fds{-1, -1};
};

std::vector<std::string> ChildEnvironment(const std::filesystem::path& dataHome) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.rfind("ZEQ_", 0) == 0 || text.rfind("XDG_DATA_HOME=", 0) == 0) {
            continue;
        }
        env.push_back(text);
    }
    env.push_back("XDG_DATA_HOME=" + dataHome.string());
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

Json::Value Outcome::Json() const {
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(out.data(), out.data() + out.size(), &root, &errors)) {
        return Json::Value();
    }
    return root;
}

Outcome Zeqctl::operator()(const std::vector<std::string>& args, std::chrono::seconds bound) const {
    std::vector<std::string> argv{ZEQCTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    auto env = ChildEnvironment(m_dataHome);
    auto argvPointers = Pointers(argv);
    auto envPointers = Pointers(env);

    Pipe out;
    Pipe err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out.Write(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.Write(), STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const auto started = std::chrono::steady_clock::now();
    const int spawned = ::posix_spawn(&pid, ZEQCTL_PATH, &actions, nullptr, argvPointers.data(),
                                      envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(spawned));
    }
    out.CloseWrite();
    err.CloseWrite();

    Outcome run;
    // Both pipes are drained together: a child blocked on a full stderr pipe
    // would never close stdout.
    std::array<pollfd, 2> fds{pollfd{out.Read(), POLLIN, 0}, pollfd{err.Read(), POLLIN, 0}};
    std::array<std::string*, 2> sinks{&run.out, &run.err};
    int open = 2;
    bool killed = false;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            started + bound - std::chrono::steady_clock::now());
        if (left.count() <= 0 && !killed) {
            // The pipes close once the child is gone.
            ::kill(pid, SIGKILL);
            killed = true;
        }
        const int wait = killed ? -1 : static_cast<int>(left.count());
        const int ready = ::poll(fds.data(), fds.size(), wait);
        if (ready == 0) {
            continue;
        }
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof(buffer));
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    return run;
}

} // namespace zeqctltest
