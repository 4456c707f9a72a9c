#pragma once

#include "context/IHttpLibStrategy.h"
#include "platform/HttpLibExport.h"

#include <gsl/pointers>

#include <map>
#include <string>

// Performs the request a strategy describes. The strategy is not owned and
// must outlive the context's use of it.
class HTTPLIB_API IHttpLibContext {
public:
    explicit IHttpLibContext(gsl::not_null<IHttpLibStrategy*> strategy);
    IHttpLibContext(const IHttpLibContext&) = default;
    IHttpLibContext& operator=(const IHttpLibContext&) = default;
    virtual ~IHttpLibContext();

    // Each returns the HTTP status of the last attempt, 0 when none came.
    // timeout: whole seconds for the whole transfer, or -1 for the process-wide
    // connect and low-speed limits.
    virtual int Request(std::string& response, int timeout) = 0;
    // sink points to a FileTransferHandler that receives the body; text is unused.
    virtual int Request(std::string& text, void* sink) = 0;
    virtual int Request(std::string& response,
                        std::map<std::string, std::string>& responseHeaders) = 0;

protected:
    gsl::not_null<IHttpLibStrategy*> strategy;
};
