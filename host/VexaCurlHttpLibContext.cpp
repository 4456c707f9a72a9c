#include "host/VexaCurlHttpLibContext.h"

#include "context/BasicHttpLibStrategy.h"
#include "context/ClientUtils.h"
#include "context/CurlHttpLibContext.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

constexpr int kDelivered = 200;
constexpr int kNotWritten = -1;

// Closes and, unless kept, removes a temporary file, so no failure path
// leaves one behind.
class TempFile {
public:
    explicit TempFile(std::string pathTemplate)
        : m_path(std::move(pathTemplate)), m_fd(::mkstemp(m_path.data())), m_created(m_fd >= 0) {}
    ~TempFile() {
        Close();
        if (m_created && !m_renamed) {
            ::unlink(m_path.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool IsOpen() const { return m_fd >= 0; }

    bool Write(const std::string& data) {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(m_fd, data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        // Flushed before the rename, or a crash could leave an empty file
        // under the final name.
        return ::fsync(m_fd) == 0;
    }

    bool Close() {
        if (m_fd < 0) {
            return true;
        }
        const bool closed = ::close(m_fd) == 0;
        m_fd = -1;
        return closed;
    }

    bool RenameTo(const std::string& target) {
        if (!Close() || ::rename(m_path.c_str(), target.c_str()) != 0) {
            return false;
        }
        m_renamed = true;
        return true;
    }

private:
    std::string m_path;
    int m_fd;
    bool m_created;
    bool m_renamed = false;
};

bool WriteWhole(const std::string& target, const std::string& body) {
    const std::filesystem::path path(target);
    const std::filesystem::path folder = path.parent_path();
    if (!folder.empty()) {
        std::error_code ignored; // a folder that cannot be made fails mkstemp below
        std::filesystem::create_directories(folder, ignored);
    }
    // Same folder, so the rename never crosses a file system. The name is
    // appended piece by piece: "." + std::string&& trips GCC 12's -Wrestrict
    // at -O3 (a false positive) and breaks the release build.
    std::string name = ".";
    name.append(path.filename().string()).append(".XXXXXX");
    TempFile temp((folder / name).string());
    return temp.IsOpen() && temp.Write(body) && temp.RenameTo(target);
}

} // namespace

VexaCurlHttpLibContext::VexaCurlHttpLibContext(gsl::not_null<VexaIHttpLibStrategy*> strategy)
    : m_strategy(strategy) {}

VexaCurlHttpLibContext::~VexaCurlHttpLibContext() = default;

int VexaCurlHttpLibContext::DownloadFile(const std::wstring& filePath,
                                         std::map<std::string, std::string>& responseHeaders) {
    const VexaIHttpLibStrategy::LogFunction& log = m_strategy->GetLogFunction();
    const auto tell = [&log](const std::string& message) {
        if (log) {
            log(message);
        }
    };

    BasicHttpLibStrategy request;
    request.SetUrl(UTF8ToUnicode(m_strategy->GetUrl()));
    request.SetHttpRequestMethod(
        static_cast<HttpRequestMethod>(m_strategy->GetHttpRequestMethod()));
    std::map<std::wstring, std::wstring> headers;
    for (const auto& [key, value] : m_strategy->GetHeaders()) {
        headers[UTF8ToUnicode(key)] = UTF8ToUnicode(value);
    }
    request.SetHeaders(headers);
    request.SetLogFunction([&tell](const std::wstring& message) { tell(UnicodeToUTF8(message)); });

    // The header form clears the body before every attempt, so a retried
    // request never leaves an earlier attempt's body in front of the last one.
    CurlHttpLibContext context(&request);
    std::string body;
    responseHeaders.clear();
    const int status = context.Request(body, responseHeaders);
    // A 200 whose transfer failed (cut short mid-body, too slow) carries a
    // partial body, which must not pass for the file.
    if (status != kDelivered || context.GetLastCurlCode() != 0) {
        tell("DownloadFile: no file written, CurlCode: " +
             std::to_string(context.GetLastCurlCode()) + ", HttpCode= " + std::to_string(status));
        return status == kDelivered ? kNotWritten : status;
    }
    const std::string target = UnicodeToUTF8(filePath);
    if (target.empty() || !WriteWhole(target, body)) {
        tell("DownloadFile: cannot write " + target);
        return kNotWritten;
    }
    return kDelivered;
}
