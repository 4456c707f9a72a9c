#include "curlppx/CurlHeader.h"

#include <utility>

namespace curlppx {

namespace {

std::string Line(const std::string& name, const std::string& value) {
    return name + ": " + value;
}

} // namespace

CurlHeader::CurlHeader() = default;

CurlHeader::CurlHeader(const CurlHeader& other) : CurlStrList(other), m_fields(other.m_fields) {}

CurlHeader::CurlHeader(CurlHeader&& other) noexcept : CurlStrList(std::move(other)) {
    std::swap(m_fields, other.m_fields);
}

CurlHeader::CurlHeader(const std::map<std::string, std::string>& fields) {
    FromMap(fields);
}

CurlHeader& CurlHeader::operator=(const CurlHeader& other) {
    if (this != &other) {
        CurlStrList::operator=(other);
        m_fields = other.m_fields;
    }
    return *this;
}

CurlHeader& CurlHeader::operator=(CurlHeader&& other) noexcept {
    if (this != &other) {
        // Deep copy of the lines, then the maps trade places.
        CurlStrList::operator=(static_cast<const CurlStrList&>(other));
        std::swap(m_fields, other.m_fields);
    }
    return *this;
}

CurlHeader::~CurlHeader() = default;

void CurlHeader::Clear() {
    CurlStrList::Clear();
    m_fields.clear();
}

std::string CurlHeader::operator[](const std::string& name) const {
    const auto found = m_fields.find(name);
    return found == m_fields.end() ? std::string() : found->second;
}

const std::map<std::string, std::string>& CurlHeader::ToMap() {
    return m_fields;
}

bool CurlHeader::SetField(const std::string& name, const std::string& value) {
    const bool hasList = m_raw && m_raw->GetListPtr() != nullptr;
    if (hasList && m_fields.empty()) {
        Clear();
    } else if (!hasList && !m_fields.empty()) {
        m_fields.clear();
    }

    const auto found = m_fields.find(name);
    if (found != m_fields.end() && found->second == value) {
        return true;
    }
    if (found == m_fields.end() && Append(Line(name, value))) {
        m_fields[name] = value;
        return true;
    }

    // A changed value (or a failed append): rebuild every line from the map.
    m_fields[name] = value;
    CurlHeader fresh;
    if (fresh.FromMap(m_fields) != m_fields.size()) {
        return false;
    }
    CurlStrList::operator=(static_cast<const CurlStrList&>(fresh));
    m_fields = std::move(fresh.m_fields);
    return true;
}

size_t CurlHeader::SetFields(const std::map<std::string, std::string>& fields) {
    size_t taken = 0;
    for (const auto& [name, value] : fields) {
        taken += SetField(name, value) ? 1 : 0;
    }
    return taken;
}

size_t CurlHeader::FromMap(const std::map<std::string, std::string>& fields) {
    if (&fields == &m_fields) {
        return m_fields.size();
    }
    if (fields.empty()) {
        return 0;
    }
    CurlHeader fresh;
    size_t taken = 0;
    for (const auto& [name, value] : fields) {
        // Built line by line: a value change inside would recurse into FromMap.
        if (fresh.Append(Line(name, value))) {
            fresh.m_fields[name] = value;
            ++taken;
        }
    }
    if (taken > 0) {
        CurlStrList::operator=(static_cast<const CurlStrList&>(fresh));
        m_fields = std::move(fresh.m_fields);
    }
    return taken;
}

} // namespace curlppx
