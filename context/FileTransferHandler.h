#pragma once

#include "platform/HttpLibExport.h"

#include <cstdint>
#include <functional>

// The host's sink for a download. The callable gets each piece of the body;
// setting size to anything but the piece's length stops the transfer.
class HTTPLIB_API FileTransferHandler {
public:
    using WriteDataFunction =
        std::function<bool(unsigned char* data, std::uint64_t& size, bool flag)>;

    FileTransferHandler();
    FileTransferHandler(const FileTransferHandler&) = default;
    FileTransferHandler& operator=(const FileTransferHandler&) = default;
    ~FileTransferHandler();

    void SetWriteDataFunc(WriteDataFunction function);
    // False, with size untouched, when no callable is set.
    bool WriteData(unsigned char* data, std::uint64_t& size, bool flag);

private:
    WriteDataFunction writeDataFunc;
};
