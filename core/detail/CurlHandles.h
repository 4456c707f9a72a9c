#pragma once

#include <curl/curl.h>

#include <memory>

// Owners for libcurl handles: each handle has exactly one, and none is copyable.
namespace curlhandles {

struct EasyCleanup {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct ShareCleanup {
    void operator()(CURLSH* share) const { curl_share_cleanup(share); }
};

using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using HeaderList = std::unique_ptr<curl_slist, SlistFree>;
using ShareHandle = std::unique_ptr<CURLSH, ShareCleanup>;

} // namespace curlhandles
