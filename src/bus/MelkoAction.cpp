#include "bus/MelkoAction.h"

#include "bus/MelkoFrame.h"

#include <algorithm>
#include <cstring>

namespace {

const int WORK_SIZE = static_cast<int>(CMelkoFrame::MAX_DATA_LENGTH);
// The most info bytes whose telegram still fits the frame when every byte
// of the body needs stuffing: 2 * (3 + 255) + STX, filler, checksum, ETX.
const int MAX_INFO_LENGTH = 255;
// Info bytes that come before the data of a read or write request: the
// 24-bit data address, a zero byte and the byte count.
const int ADDRESS_INFO_LENGTH = 5;

bool needsEscape(char byte) {
    return byte == CMelkoAction::ETX || byte == CMelkoAction::DLE;
}

unsigned char checksumOf(const char* buffer, int length) {
    unsigned char sum = 0;
    for (int i = 1; i < length; ++i) {
        sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(buffer[i]));
    }
    return static_cast<unsigned char>(-sum);
}

void putDataAddress(char* info, unsigned long address, int count) {
    info[0] = static_cast<char>(address & 0xFF);
    info[1] = static_cast<char>((address >> 8) & 0xFF);
    info[2] = static_cast<char>((address >> 16) & 0xFF);
    info[3] = 0x00;
    info[4] = static_cast<char>(count & 0xFF);
}

} // namespace

void CMelkoAction::build(CMelkoFrame* frame, char destination, unsigned char function,
                         const char* info, int infoLength) {
    char telegram[WORK_SIZE];
    infoLength = std::max(0, std::min(infoLength, MAX_INFO_LENGTH));
    telegram[0] = STX;
    telegram[1] = destination;
    telegram[2] = static_cast<char>(function);
    telegram[3] = static_cast<char>(ADDRESS_TOOL);
    if (infoLength > 0) {
        memcpy(telegram + 4, info, static_cast<size_t>(infoLength));
    }
    int length = 4 + infoLength;
    addDLE(telegram, &length);
    addCRC(telegram, &length);
    telegram[length++] = ETX;
    frame->setType(CMelkoFrame::TYPE_TELEGRAM);
    frame->setData(telegram, static_cast<unsigned long>(length));
}

void CMelkoAction::addDLE(char* buffer, int* length) {
    if (*length <= 0) {
        *length = 0;
        return;
    }
    char stuffed[WORK_SIZE];
    int count = 0;
    for (int i = 0; i < *length && count < WORK_SIZE; ++i) {
        if (needsEscape(buffer[i]) && count + 1 < WORK_SIZE) {
            stuffed[count++] = DLE;
        }
        stuffed[count++] = buffer[i];
    }
    memcpy(buffer, stuffed, static_cast<size_t>(count));
    *length = count;
}

void CMelkoAction::addCRC(char* buffer, int* length) {
    unsigned char checksum = checksumOf(buffer, *length);
    while (needsEscape(static_cast<char>(checksum))) {
        buffer[(*length)++] = DLE;
        checksum = checksumOf(buffer, *length);
    }
    buffer[(*length)++] = static_cast<char>(checksum);
}

void CMelkoAction::buildResetBusMsg(CMelkoFrame* frame, char destination) {
    build(frame, destination, FUNCTION_RESET_BUS, nullptr, 0);
}

void CMelkoAction::buildIdentRequest(CMelkoFrame* frame, char destination) {
    const char info[] = {0x00};
    build(frame, destination, FUNCTION_IDENT, info, sizeof(info));
}

void CMelkoAction::buildReadDataMsg(CMelkoFrame* frame, char destination, unsigned long address,
                                    int count) {
    char info[ADDRESS_INFO_LENGTH];
    putDataAddress(info, address, count);
    build(frame, destination, FUNCTION_READ_DATA, info, sizeof(info));
}

void CMelkoAction::buildWriteDataMsg(CMelkoFrame* frame, char destination, unsigned long address,
                                     const char* data, int length) {
    length = std::max(0, std::min(length, MAX_INFO_LENGTH - ADDRESS_INFO_LENGTH));
    char info[MAX_INFO_LENGTH];
    putDataAddress(info, address, length);
    if (length > 0) {
        memcpy(info + ADDRESS_INFO_LENGTH, data, static_cast<size_t>(length));
    }
    build(frame, destination, FUNCTION_WRITE_DATA, info, ADDRESS_INFO_LENGTH + length);
}

void CMelkoAction::buildCheckFunctionMsg(CMelkoFrame* frame, char destination, char subFunction) {
    build(frame, destination, FUNCTION_CHECK, &subFunction, 1);
}

void CMelkoAction::buildProgModeMsg(CMelkoFrame* frame, char destination, bool on) {
    build(frame, destination, on ? FUNCTION_PROG_MODE_ON : FUNCTION_PROG_MODE_OFF, nullptr, 0);
}

void CMelkoAction::buildCleanFPMMsg(CMelkoFrame* frame, char destination) {
    const char info[] = {0x00, 0x00};
    build(frame, destination, FUNCTION_CLEAN, info, sizeof(info));
}

void CMelkoAction::buildReadCfgMsg(CMelkoFrame* frame, char destination) {
    build(frame, destination, FUNCTION_READ_CFG, nullptr, 0);
}

void CMelkoAction::buildWriteCfgMsg(CMelkoFrame* frame, char destination, const char* data,
                                    int length) {
    length = std::max(0, std::min(length, MAX_INFO_LENGTH - 1));
    char info[MAX_INFO_LENGTH];
    info[0] = 0x01;
    if (length > 0) {
        memcpy(info + 1, data, static_cast<size_t>(length));
    }
    build(frame, destination, FUNCTION_WRITE_CFG, info, 1 + length);
}

void CMelkoAction::buildCompDBMsg(CMelkoFrame* frame, char destination) {
    build(frame, destination, FUNCTION_COMP_DB, nullptr, 0);
}
