#include "curlppx/CurlStrListRaw.h"

#include <utility>

namespace curlppx {

CurlStrListRaw::CurlStrListRaw(curl_slist* list) : m_list(list) {}

CurlStrListRaw::~CurlStrListRaw() {
    if (m_list != nullptr) {
        curl_slist_free_all(m_list);
    }
}

CurlStrListRaw::CurlStrListRaw(CurlStrListRaw&& other) noexcept
    : m_list(std::exchange(other.m_list, nullptr)) {}

CurlStrListRaw& CurlStrListRaw::operator=(CurlStrListRaw&& other) noexcept {
    std::swap(m_list, other.m_list);
    return *this;
}

bool CurlStrListRaw::Append(const std::string& s) {
    curl_slist* head = curl_slist_append(m_list, s.c_str());
    if (head == nullptr) {
        return false;
    }
    m_list = head;
    return true;
}

curl_slist* CurlStrListRaw::GetListPtr() {
    return m_list;
}

} // namespace curlppx
