#pragma once

#include "platform/ClientConstants.h"

#include <curl/curl.h>

#include <string>

namespace curlhandles {

// The TLS settings the device request and the request context share: TLS 1.2
// at the least, the client's cipher list, and the peer checked against a PEM
// bundle. Only the host-name check differs between them. libcurl copies the
// texts, so caFile need not outlive the call.
inline void SetTlsOptions(CURL* curl, const std::string& caFile, long verifyHost) {
    curl_easy_setopt(curl, CURLOPT_SSL_CIPHER_LIST, g_cipherList.c_str());
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(curl, CURLOPT_SSLCERTTYPE, "PEM");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, verifyHost);
    curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
}

} // namespace curlhandles
