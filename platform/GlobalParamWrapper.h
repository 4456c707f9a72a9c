#pragma once

#include "platform/HttpLibExport.h"

#include <mutex>
#include <string>

// The client's global parameter service. The host sets the values once it
// knows them; the library only reads them.
class HTTPLIB_API GlobalParamWrapper {
public:
    static GlobalParamWrapper* GetInstance();

    std::string GetReqDeviceId();
    std::wstring GetCurrentUserId();
    // The client's local application-data folder, without a closing separator.
    // Until the host sets one: $XDG_DATA_HOME/HttpLib, else ~/.local/share/HttpLib.
    std::wstring GetAppDataLocalPath() const;

    void SetReqDeviceId(const std::string& deviceId);
    void SetCurrentUserId(const std::wstring& userId);
    void SetAppDataLocalPath(const std::wstring& path);

private:
    GlobalParamWrapper() = default;

    mutable std::mutex m_mutex;
    std::string m_reqDeviceId;
    std::wstring m_currentUserId;
    std::wstring m_appDataLocalPath;
};
