#include "curlppx/CurlGlobal.h"

namespace curlppx {

int CurlGlobal::m_timeoutLowSpeed = 10;
int CurlGlobal::m_limitLowSpeed = 30;
long CurlGlobal::m_timeoutConnect = 30000;
bool CurlGlobal::m_dnsFlag = false;
bool CurlGlobal::m_isAtExpire = false;
std::wstring CurlGlobal::m_sysUUid;
std::wstring CurlGlobal::m_currentUserAt;
std::wstring CurlGlobal::m_userId;
std::wstring CurlGlobal::m_sysCountryCode;

int CurlGlobal::GetLimitLowSpeed() {
    return m_limitLowSpeed;
}
void CurlGlobal::SetLimitLowSpeed(int bytesPerSecond) {
    m_limitLowSpeed = bytesPerSecond;
}
int CurlGlobal::GetTimeoutLowSpeed() {
    return m_timeoutLowSpeed;
}
void CurlGlobal::SetTimeoutLowSpeed(int seconds) {
    m_timeoutLowSpeed = seconds;
}
long CurlGlobal::GetTimeoutConnect() {
    return m_timeoutConnect;
}
void CurlGlobal::SetTimeoutConnect(long milliseconds) {
    m_timeoutConnect = milliseconds;
}
bool CurlGlobal::GetStandByDnsFlag() {
    return m_dnsFlag;
}
void CurlGlobal::SetStandByDnsFlag(bool flag) {
    m_dnsFlag = flag;
}
bool CurlGlobal::GetAtIsExpired() {
    return m_isAtExpire;
}
void CurlGlobal::SetAtIsExpired(bool expired) {
    m_isAtExpire = expired;
}
std::wstring CurlGlobal::GetSystemUUid() {
    return m_sysUUid;
}
void CurlGlobal::SetSystemUUid(std::wstring uuid) {
    m_sysUUid = std::move(uuid);
}
std::wstring CurlGlobal::GetCurrentAt() {
    return m_currentUserAt;
}
void CurlGlobal::SetCurrentAt(const std::wstring& at) {
    m_currentUserAt = at;
}
std::wstring CurlGlobal::GetCurrentUserId() {
    return m_userId;
}
void CurlGlobal::SetUserID(const std::wstring& userId) {
    m_userId = userId;
}
std::wstring CurlGlobal::GetCountryCode() {
    return m_sysCountryCode;
}
void CurlGlobal::SetCountryCode(const std::wstring& countryCode) {
    m_sysCountryCode = countryCode;
}
std::string CurlGlobal::GetStandByDns() {
    return "8.8.8.8,114.114.114.114";
}
std::wstring CurlGlobal::GetQxClientMode() {
    return {};
}

} // namespace curlppx
