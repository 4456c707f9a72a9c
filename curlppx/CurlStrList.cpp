#include "curlppx/CurlStrList.h"

#include <utility>

namespace curlppx {

CurlStrList::CurlStrList() : m_raw(std::make_shared<CurlStrListRaw>()) {}

CurlStrList::CurlStrList(std::shared_ptr<CurlStrListRaw> raw) : m_raw(std::move(raw)) {
    ReBuildVector();
}

CurlStrList::CurlStrList(const CurlStrList& other) {
    CopyFrom(other);
}

CurlStrList::CurlStrList(CurlStrList&& other) noexcept {
    std::swap(m_raw, other.m_raw);
    std::swap(m_items, other.m_items);
}

CurlStrList& CurlStrList::operator=(const CurlStrList& other) {
    if (this != &other) {
        Clear();
        CopyFrom(other);
    }
    return *this;
}

CurlStrList& CurlStrList::operator=(CurlStrList&& other) noexcept {
    std::swap(m_raw, other.m_raw);
    std::swap(m_items, other.m_items);
    return *this;
}

CurlStrList::~CurlStrList() = default;

void CurlStrList::CopyFrom(const CurlStrList& other) {
    if (!other.m_raw) {
        return;
    }
    for (const char* item : other.m_items) {
        Append(item);
    }
    if (!m_raw) {
        m_raw = std::make_shared<CurlStrListRaw>();
    }
}

void CurlStrList::Clear() {
    m_items.clear();
    m_raw.reset();
}

std::string CurlStrList::operator[](size_t i) const {
    if (i >= m_items.size()) {
        return {};
    }
    return m_items[i];
}

bool CurlStrList::Append(const std::string& s) {
    if (!m_raw) {
        m_raw = std::make_shared<CurlStrListRaw>();
    }
    if (!m_raw->Append(s)) {
        return false;
    }
    ReBuildVector();
    return true;
}

size_t CurlStrList::GetSize() const {
    return m_items.size();
}

bool CurlStrList::isEmpty() const {
    return m_items.empty();
}

std::shared_ptr<CurlStrListRaw> CurlStrList::GetRawList() {
    return m_raw;
}

void CurlStrList::ReBuildVector() {
    m_items.clear();
    if (!m_raw) {
        return;
    }
    for (curl_slist* node = m_raw->GetListPtr(); node != nullptr; node = node->next) {
        m_items.push_back(node->data);
    }
}

} // namespace curlppx
