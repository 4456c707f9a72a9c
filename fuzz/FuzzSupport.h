#pragma once

#include "core/HttpReqZEQ.h"
#include "platform/GlobalParamWrapper.h"
#include "platform/Scribo.h"

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// What every fuzz target shares: a quiet log sink, the host callbacks the
// reply steps ask, and the one exception outcome the library documents.
namespace fuzzsupport {

inline bool& CapabilityAnswer() {
    static bool answer = true;
    return answer;
}

inline int DevCap(int, int) {
    return CapabilityAnswer() ? 1 : 0;
}

// Log lines are formatted as the default sink would (that code runs too) and
// printed only with HTTPLIB_FUZZ_LOG=1: printing every line would slow the
// fuzzer down by orders of magnitude.
inline void Setup() {
    static const bool done = [] {
        static const bool print = std::getenv("HTTPLIB_FUZZ_LOG") != nullptr;
        Scribo::SetSink([](const Scribo::LogRecord& record) {
            const std::string line = Scribo::FormatLine(record);
            if (print) {
                std::fprintf(stderr, "%s\n", line.c_str());
            }
        });
        GlobalParamWrapper::GetInstance()->SetReqDeviceId("fuzz-device");
        HttpReqZEQ::RegHttpReqZeqApi(nullptr, &DevCap, nullptr, nullptr);
        return true;
    }();
    (void)done;
}

inline std::string Text(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// For the reply steps that hand the JSON library's own conversion errors to
// their caller (numbers read with asUInt64 from id arrays): such an error is
// a documented outcome, caught here as a host would. Every other step runs
// without a catch, so an exception there ends the run as a finding.
template <typename Step> bool JsonLibraryMayThrow(Step step) {
    try {
        return step();
    } catch (const Json::Exception&) {
        return false;
    }
}

} // namespace fuzzsupport
