#include "emulator/SafeFs.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zeqemu::safefs {

namespace {

Info FromStat(const struct stat& st) {
    Info info;
    info.exists = true;
    info.isDir = S_ISDIR(st.st_mode);
    info.isFile = S_ISREG(st.st_mode);
    info.isLink = !info.isDir && !info.isFile;
    info.size = info.isFile ? static_cast<std::int64_t>(st.st_size) : 0;
    info.mtime = static_cast<std::int64_t>(st.st_mtime);
    return info;
}

} // namespace

UniqueFd OpenFolder(int root, const std::vector<std::string>& parts, std::size_t count) {
    UniqueFd current(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    for (std::size_t i = 0; i < count && i < parts.size(); ++i) {
        UniqueFd next(::openat(current.Get(), parts[i].c_str(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.Valid()) {
            const auto info = InfoAt(current.Get(), parts[i]);
            throw WalkError{!info.exists  ? WalkError::Missing
                            : info.isLink ? WalkError::Link
                                          : WalkError::NotFolder,
                            parts[i]};
        }
        current = std::move(next);
    }
    return current;
}

Info InfoAt(int folder, const std::string& name) {
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return {};
    }
    return FromStat(st);
}

UniqueFd OpenFileAt(int folder, const std::string& name, int flags, int mode) {
    UniqueFd fd(::openat(folder, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
    struct stat st {};
    if (fd.Valid() && (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))) {
        fd.Reset(); // a fifo or a device is no file of the device's
    }
    return fd;
}

std::vector<std::string> Children(int folder) {
    std::vector<std::string> names;
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (dir == nullptr) {
        if (fd >= 0) {
            ::close(fd);
        }
        return names;
    }
    while (const auto* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        const auto info = InfoAt(folder, name);
        if (info.isDir || info.isFile) {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void Walk(int folder, const Visitor& visit, const std::string& prefix) {
    for (const auto& name : Children(folder)) {
        const auto relative = prefix.empty() ? name : prefix + "/" + name;
        const auto info = InfoAt(folder, name);
        visit(folder, name, relative, info);
        if (info.isDir) {
            const UniqueFd child(
                ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (child.Valid()) {
                Walk(child.Get(), visit, relative);
            }
        }
    }
}

bool RemoveTree(int folder, const std::string& name) {
    if (::unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT) {
        return true;
    }
    if (errno != EISDIR) {
        return false;
    }
    const UniqueFd child(
        ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!child.Valid()) {
        return false;
    }
    bool removed = true;
    const int fd = ::openat(child.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr) {
        std::vector<std::string> names;
        while (const auto* entry = ::readdir(dir)) {
            const std::string inner = entry->d_name;
            if (inner != "." && inner != "..") {
                names.push_back(inner);
            }
        }
        ::closedir(dir);
        for (const auto& inner : names) {
            removed = RemoveTree(child.Get(), inner) && removed;
        }
    } else if (fd >= 0) {
        ::close(fd);
    }
    return ::unlinkat(folder, name.c_str(), AT_REMOVEDIR) == 0 && removed;
}

bool CopyBytes(int from, int to, std::int64_t length) {
    loff_t in = 0;
    while (in < length) {
        const auto copied =
            ::copy_file_range(from, &in, to, nullptr, static_cast<std::size_t>(length - in), 0);
        if (copied > 0) {
            continue;
        }
        if (copied < 0 && errno == EINTR) {
            continue;
        }
        if (copied == 0 || (errno != EXDEV && errno != ENOSYS && errno != EINVAL)) {
            return false;
        }
        // No in-kernel copy between these two: plain reads and writes.
        char buffer[65536];
        while (in < length) {
            const auto got = ::pread(from, buffer,
                                     static_cast<std::size_t>(std::min<std::int64_t>(
                                         length - in, static_cast<std::int64_t>(sizeof buffer))),
                                     in);
            if (got <= 0 || ::write(to, buffer, static_cast<std::size_t>(got)) != got) {
                return false;
            }
            in += got;
        }
    }
    return true;
}

void Sync(int fd) {
    ::fsync(fd);
}

} // namespace zeqemu::safefs
