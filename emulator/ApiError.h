#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zeqemu {

// Thrown anywhere below a handler to refuse a request; the router turns it
// into the JSON error reply, so no half-done change is ever answered as done.
class ApiError : public std::runtime_error {
public:
    ApiError(int httpStatus, std::int64_t code, const std::string& des)
        : std::runtime_error(des), m_httpStatus(httpStatus), m_code(code) {}

    // A refusal the client reads from the envelope (HTTP 200, "code" not 0).
    static ApiError Device(std::int64_t code, const std::string& des) {
        return ApiError(200, code, des);
    }
    // A request the device cannot even read (HTTP 400).
    static ApiError BadRequest(std::int64_t code, const std::string& des) {
        return ApiError(400, code, des);
    }

    int HttpStatus() const { return m_httpStatus; }
    std::int64_t Code() const { return m_code; }

private:
    int m_httpStatus;
    std::int64_t m_code;
};

} // namespace zeqemu
