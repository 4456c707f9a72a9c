#include "platform/GlobalParamWrapper.h"

#include "platform/TextCodec.h"

#include <cstdlib>

namespace {

std::wstring DefaultAppDataLocalPath() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        base = std::string(home) + "/.local/share";
    } else {
        base = "/tmp";
    }
    std::wstring wide;
    platform::Utf8ToWide(base + "/HttpLib", wide);
    return wide;
}

} // namespace

GlobalParamWrapper* GlobalParamWrapper::GetInstance() {
    static GlobalParamWrapper instance;
    return &instance;
}

std::string GlobalParamWrapper::GetReqDeviceId() {
    std::lock_guard lock(m_mutex);
    return m_reqDeviceId;
}

std::wstring GlobalParamWrapper::GetCurrentUserId() {
    std::lock_guard lock(m_mutex);
    return m_currentUserId;
}

std::wstring GlobalParamWrapper::GetAppDataLocalPath() const {
    std::lock_guard lock(m_mutex);
    return m_appDataLocalPath.empty() ? DefaultAppDataLocalPath() : m_appDataLocalPath;
}

void GlobalParamWrapper::SetReqDeviceId(const std::string& deviceId) {
    std::lock_guard lock(m_mutex);
    m_reqDeviceId = deviceId;
}

void GlobalParamWrapper::SetCurrentUserId(const std::wstring& userId) {
    std::lock_guard lock(m_mutex);
    m_currentUserId = userId;
}

void GlobalParamWrapper::SetAppDataLocalPath(const std::wstring& path) {
    std::lock_guard lock(m_mutex);
    m_appDataLocalPath = path;
}
