#pragma once

#include "platform/HttpLibExport.h"

#include <curl/curl.h>

#include <map>
#include <string>

namespace curlppx {

// Owns one libcurl URL handle. A failed creation or copy leaves no handle, and
// every part operation then fails with CURLUE_BAD_HANDLE.
class HTTPLIB_API CurlUrl {
public:
    CurlUrl();
    explicit CurlUrl(const std::string& url);
    CurlUrl(const CurlUrl& other);
    CurlUrl(CurlUrl&& other) noexcept;
    CurlUrl& operator=(const CurlUrl& other);
    CurlUrl& operator=(CurlUrl&& other) noexcept;
    virtual ~CurlUrl();

    CURLUcode FromStr(const std::string& url);
    std::string GetStr() const;

    CURLUcode SetScheme(const std::string& v);
    std::string GetScheme() const;
    CURLUcode SetOptions(const std::string& v);
    std::string GetOptions() const;
    CURLUcode SetHost(const std::string& v);
    std::string GetHost() const;
    CURLUcode SetZoneID(const std::string& v);
    std::string GetZoneID() const;
    CURLUcode SetPath(const std::string& v);
    std::string GetPath() const;
    CURLUcode SetQuery(const std::string& v);
    std::string GetQuery() const;
    CURLUcode SetFragment(const std::string& v);
    std::string GetFragment() const;
    CURLUcode SetPortW(unsigned short port);
    unsigned short GetPort() const;

    static std::string BuildQuery(const std::map<std::string, std::string>& params, bool encode);

    // The handle for CURLOPT_CURLU; ownership stays here.
    CURLU* GetHandle() const { return m_handle; }

protected:
    CURLUcode SetUrlPart(CURLUPart part, const std::string& value, unsigned int flags);
    std::string GetUrlPart(CURLUPart part, unsigned int flags) const;

private:
    CURLU* m_handle = nullptr;
};

} // namespace curlppx
