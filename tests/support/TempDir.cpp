#include "support/TempDir.h"

#include <stdexcept>
#include <string>
#include <system_error>

#include <stdlib.h>

namespace testsupport {

TempDir::TempDir() {
    auto pattern = (std::filesystem::temp_directory_path() / "httplib-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

} // namespace testsupport
