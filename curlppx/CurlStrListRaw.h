#pragma once

#include "platform/HttpLibExport.h"

#include <curl/curl.h>

#include <string>

namespace curlppx {

// Sole owner of one libcurl string list; move-only.
class HTTPLIB_API CurlStrListRaw {
public:
    explicit CurlStrListRaw(curl_slist* list = nullptr);
    ~CurlStrListRaw();
    CurlStrListRaw(const CurlStrListRaw&) = delete;
    CurlStrListRaw& operator=(const CurlStrListRaw&) = delete;
    CurlStrListRaw(CurlStrListRaw&& other) noexcept;
    CurlStrListRaw& operator=(CurlStrListRaw&& other) noexcept;

    bool Append(const std::string& s);
    curl_slist* GetListPtr();

private:
    curl_slist* m_list = nullptr;
};

} // namespace curlppx
