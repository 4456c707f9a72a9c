#pragma once

#include "platform/HttpLibExport.h"

#include <string>
#include <vector>

namespace curlppx::detail {

// The link kind that CurlGlobal::GetNetwork reports, decided from the
// interfaces in the order given and the sysfs tree rooted at sysClassNet
// (normally "/sys/class/net"): the first interface that is up and wireless
// gives L"Wifi", the first that is up and Ethernet gives L"wire", whichever
// comes first; otherwise empty.
HTTPLIB_API std::wstring NetworkKind(const std::vector<std::string>& interfaces,
                                     const std::string& sysClassNet);

// NetworkKind of this host's interfaces, in the order the system lists them.
std::wstring ActiveNetworkKind();

} // namespace curlppx::detail
