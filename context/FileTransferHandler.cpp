#include "context/FileTransferHandler.h"

#include <utility>

FileTransferHandler::FileTransferHandler() = default;

FileTransferHandler::~FileTransferHandler() = default;

void FileTransferHandler::SetWriteDataFunc(WriteDataFunction function) {
    writeDataFunc = std::move(function);
}

bool FileTransferHandler::WriteData(unsigned char* data, std::uint64_t& size, bool flag) {
    if (!writeDataFunc) {
        return false;
    }
    return writeDataFunc(data, size, flag);
}
