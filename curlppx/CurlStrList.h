#pragma once

#include "curlppx/CurlStrListRaw.h"
#include "platform/HttpLibExport.h"

#include <memory>
#include <string>
#include <vector>

namespace curlppx {

// A libcurl string list with indexed access. Copies are deep; the shared
// constructor shares the raw list. Not thread-safe.
class HTTPLIB_API CurlStrList {
public:
    CurlStrList();
    explicit CurlStrList(std::shared_ptr<CurlStrListRaw> raw);
    CurlStrList(const CurlStrList& other);
    CurlStrList(CurlStrList&& other) noexcept;
    CurlStrList& operator=(const CurlStrList& other);
    CurlStrList& operator=(CurlStrList&& other) noexcept;
    virtual ~CurlStrList();

    virtual void Clear();

    std::string operator[](size_t i) const;
    bool Append(const std::string& s);
    size_t GetSize() const;
    // True when the list holds no entry.
    bool isEmpty() const;
    std::shared_ptr<CurlStrListRaw> GetRawList();

protected:
    void ReBuildVector();
    void CopyFrom(const CurlStrList& other);

    std::shared_ptr<CurlStrListRaw> m_raw;
    std::vector<const char*> m_items;
};

} // namespace curlppx
