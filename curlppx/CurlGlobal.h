#pragma once

#include "platform/HttpLibExport.h"

#include <string>

namespace curlppx {

// The engine's process root. Its process-wide settings are read by the
// engine's connections and by the synchronous request context; they are plain
// variables, set by the host before requests start.
class HTTPLIB_API CurlGlobal {
public:
    static int GetLimitLowSpeed();
    static void SetLimitLowSpeed(int bytesPerSecond);
    static int GetTimeoutLowSpeed();
    static void SetTimeoutLowSpeed(int seconds);
    static long GetTimeoutConnect();
    static void SetTimeoutConnect(long milliseconds);
    static bool GetStandByDnsFlag();
    static void SetStandByDnsFlag(bool flag);
    static bool GetAtIsExpired();
    static void SetAtIsExpired(bool expired);
    static std::wstring GetSystemUUid();
    static void SetSystemUUid(std::wstring uuid);
    static std::wstring GetCurrentAt();
    static void SetCurrentAt(const std::wstring& at);
    static std::wstring GetCurrentUserId();
    static void SetUserID(const std::wstring& userId);
    static std::wstring GetCountryCode();
    static void SetCountryCode(const std::wstring& countryCode);
    static std::string GetStandByDns();
    static std::wstring GetQxClientMode();

    static int m_timeoutLowSpeed;
    static int m_limitLowSpeed;
    static long m_timeoutConnect;
    static bool m_dnsFlag;
    static bool m_isAtExpire;
    static std::wstring m_sysUUid;
    static std::wstring m_currentUserAt;
    static std::wstring m_userId;
    static std::wstring m_sysCountryCode;
};

} // namespace curlppx
