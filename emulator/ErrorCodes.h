#pragma once

#include <cstdint>

namespace zeqemu {

// Codes in the "code" member of the reply envelope. Protocol faults (bad JSON,
// missing or mistyped fields) come with an HTTP error status; device-level
// refusals (no such album, name taken) come with HTTP 200, as the client's
// envelope expects them.
namespace code {
inline constexpr std::int64_t kOk = 0;
inline constexpr std::int64_t kBadJson = 40001;
inline constexpr std::int64_t kMissingField = 40002;
inline constexpr std::int64_t kBadField = 40003;
inline constexpr std::int64_t kUnauthorized = 40100;
inline constexpr std::int64_t kUnknownPath = 40400;
inline constexpr std::int64_t kNoSuchFile = 40401;
inline constexpr std::int64_t kNoSuchTask = 40402;
inline constexpr std::int64_t kBadPath = 40403;
inline constexpr std::int64_t kBadCategory = 40404;
inline constexpr std::int64_t kMethodNotAllowed = 40500;
inline constexpr std::int64_t kExists = 40900;
inline constexpr std::int64_t kTaskState = 40901;
inline constexpr std::int64_t kTooLarge = 41300;
inline constexpr std::int64_t kInternal = 50000;
inline constexpr std::int64_t kInjectedFault = 50001;
inline constexpr std::int64_t kIoError = 50002;

// Gallery codes. 30103 is the one the client treats as success on album
// settings and chosen-file metadata: "done, but not everything you named".
inline constexpr std::int64_t kNoSuchAlbum = 30101;
inline constexpr std::int64_t kAlbumNameTaken = 30102;
inline constexpr std::int64_t kPartial = 30103;
inline constexpr std::int64_t kAlbumKind = 30104;
inline constexpr std::int64_t kNoSuchGalleryFile = 30105;

// Error codes inside a task record's "errorInfo".
inline constexpr std::int64_t kTaskCancelled = 60001;
inline constexpr std::int64_t kTaskInterrupted = 60002;
inline constexpr std::int64_t kTaskStepFailed = 60003;
} // namespace code

} // namespace zeqemu
