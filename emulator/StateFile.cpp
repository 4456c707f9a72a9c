#include "emulator/StateFile.h"

#include <json/reader.h>
#include <json/writer.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace zeqemu {

namespace {

struct FdCloser {
    void operator()(const int* fd) const {
        if (*fd >= 0) {
            ::close(*fd);
        }
        delete fd;
    }
};
using UniqueFd = std::unique_ptr<int, FdCloser>;

[[noreturn]] void Fail(const std::string& what, const std::filesystem::path& path) {
    throw std::runtime_error(what + " " + path.string() + ": " + std::strerror(errno));
}

void WriteAll(int fd, const std::string& text, const std::filesystem::path& path) {
    std::size_t done = 0;
    while (done < text.size()) {
        const auto n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail("cannot write", path);
        }
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

StateFile::StateFile(std::filesystem::path path) : m_path(std::move(path)) {}

Json::Value StateFile::Load() const {
    std::ifstream in(m_path, std::ios::binary);
    if (!in) {
        return Json::Value();
    }
    std::ostringstream text;
    text << in.rdbuf();
    Json::CharReaderBuilder builder;
    Json::Value root;
    std::string errors;
    std::istringstream stream(text.str());
    if (!Json::parseFromStream(builder, stream, &root, &errors) || !root.isObject()) {
        throw std::runtime_error("damaged state file " + m_path.string() + ": " + errors);
    }
    return root;
}

void StateFile::Save(const Json::Value& document) const {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = " ";
    WriteAtomically(m_path, Json::writeString(builder, document));
}

void StateFile::WriteAtomically(const std::filesystem::path& path, const std::string& text) {
    const auto folder = path.parent_path();
    std::filesystem::create_directories(folder);
    // The temporary name is fixed per target: a leftover from a crash is simply
    // overwritten by the next save, and readers never look at it.
    const auto temporary = folder / (path.filename().string() + ".tmp");
    {
        UniqueFd fd(
            new int(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)));
        if (*fd < 0) {
            Fail("cannot create", temporary);
        }
        WriteAll(*fd, text, temporary);
        if (::fsync(*fd) != 0) {
            Fail("cannot flush", temporary);
        }
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        Fail("cannot replace", path);
    }
    // Without this the rename itself may be lost on power failure.
    UniqueFd dir(new int(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (*dir >= 0) {
        ::fsync(*dir);
    }
}

} // namespace zeqemu
