#pragma once

#include "platform/HttpLibExport.h"
#include "host/VexaIHttpLibStrategy.h"

#include <gsl/pointers>

#include <map>
#include <string>

// The generic HTTP service's file download, performed by the library's own
// request context. The strategy is not owned and must outlive the call.
class HTTPLIB_API VexaCurlHttpLibContext {
public:
    explicit VexaCurlHttpLibContext(gsl::not_null<VexaIHttpLibStrategy*> strategy);
    ~VexaCurlHttpLibContext();

    // Writes the reply body of a 200 to filePath, creating its folder when
    // missing. The file appears whole or not at all: the body goes to a
    // temporary file in the same folder that is renamed over filePath. On any
    // other outcome a file already at filePath stays as it was.
    // responseHeaders gets the reply's headers (cleared first).
    // Result: 200 when the file is in place; otherwise the last HTTP status (0
    // when none came), or -1 when a 200 came but its body was cut short or
    // could not be written.
    int DownloadFile(const std::wstring& filePath,
                     std::map<std::string, std::string>& responseHeaders);

private:
    gsl::not_null<VexaIHttpLibStrategy*> m_strategy;
};
