#pragma once

#include "curlppx/CurlStrList.h"
#include "platform/HttpLibExport.h"

#include <map>
#include <string>

namespace curlppx {

// Request header lines ("name: value") kept in step with a name-to-value map:
// every map entry has exactly one line and there are no other lines. Names
// are case-sensitive. Not thread-safe.
class HTTPLIB_API CurlHeader : public CurlStrList {
public:
    CurlHeader();
    CurlHeader(const CurlHeader& other);
    CurlHeader(CurlHeader&& other) noexcept;
    explicit CurlHeader(const std::map<std::string, std::string>& fields);
    CurlHeader& operator=(const CurlHeader& other);
    CurlHeader& operator=(CurlHeader&& other) noexcept;
    ~CurlHeader() override;

    void Clear() override;

    std::string operator[](const std::string& name) const;
    using CurlStrList::operator[];
    const std::map<std::string, std::string>& ToMap();
    bool SetField(const std::string& name, const std::string& value);
    size_t SetFields(const std::map<std::string, std::string>& fields);
    size_t FromMap(const std::map<std::string, std::string>& fields);

private:
    std::map<std::string, std::string> m_fields;
};

} // namespace curlppx
