#pragma once

// Method numbers of the client's generic HTTP service; the same numbers as the
// strategy API's HttpRequestMethod.
enum VexaHttpRequestMethod : int {
    VEXA_HTTP_GET = 0,
    VEXA_HTTP_POST = 1,
    VEXA_HTTP_DELETE = 2,
    VEXA_HTTP_PATCH = 3,
    VEXA_HTTP_PUT = 4,
};
