#pragma once

#include <atomic>
#include <mutex>
#include <type_traits>
#include <utility>

namespace curlppx {

// A process-wide setting that any thread may read and write at any time:
// numbers and flags are atomics, texts are copied in and out under a lock.
// Reads and assignments look like those of the plain value it holds.
template <typename T, bool = std::is_trivially_copyable_v<T>> class CurlSetting {
public:
    CurlSetting(T value) : m_value(value) {}
    CurlSetting(const CurlSetting&) = delete;
    CurlSetting& operator=(const CurlSetting&) = delete;

    operator T() const { return m_value.load(); }
    CurlSetting& operator=(T value) {
        m_value.store(value);
        return *this;
    }

private:
    std::atomic<T> m_value;
};

template <typename T> class CurlSetting<T, false> {
public:
    CurlSetting() = default;
    CurlSetting(T value) : m_value(std::move(value)) {}
    CurlSetting(const CurlSetting&) = delete;
    CurlSetting& operator=(const CurlSetting&) = delete;

    operator T() const {
        std::lock_guard lock(m_mutex);
        return m_value;
    }
    CurlSetting& operator=(T value) {
        std::lock_guard lock(m_mutex);
        m_value = std::move(value);
        return *this;
    }

private:
    mutable std::mutex m_mutex;
    T m_value;
};

} // namespace curlppx
