#pragma once
#include <string>
// Shared constant tables of the client that the library reads.
inline const std::string g_clientVersion = "3.0.3.386";

// TLS 1.2 cipher suites offered by every connection of the library: the
// device request, the engine's connections and the request context.
inline const std::string g_cipherList =
    "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:DHE-DSS-AES128-GCM-SHA256:"
    "DHE-DSS-AES256-GCM-SHA384:DHE-RSA-AES128-CCM:DHE-RSA-AES256-CCM:DHE-PSK-AES128-CCM:"
    "DHE-PSK-AES256-CCM:ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES128-GCM-SHA256:ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-AES128-CCM:"
    "ECDHE-ECDSA-AES256-CCM:";
