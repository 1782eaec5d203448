#include "bus/MelkoParser.h"

#include "bus/MelkoAction.h"
#include "bus/MelkoFrame.h"
#include "bus/MelkoTele.h"

namespace {

// STX, destination, function, source and checksum.
const int MIN_TELEGRAM_LENGTH = 5;

} // namespace

bool CMelkoParser::checkCRC(const char* buffer, int length) {
    unsigned char sum = 0;
    for (int i = 1; i < length; ++i) {
        char byte = buffer[i];
        if (byte == CMelkoAction::ETX) {
            return sum == 0x00 || sum == 0xF3;
        }
        if (byte == CMelkoAction::DLE) {
            if (i + 1 >= length) {
                return false;
            }
            sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(byte));
            byte = buffer[++i];
        }
        sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(byte));
    }
    return false;
}

int CMelkoParser::removeDLE(char* buffer, int length) {
    int kept = 0;
    for (int i = 0; i < length; ++i) {
        char byte = buffer[i];
        if (byte == CMelkoAction::ETX) {
            buffer[kept] = 0;
            return kept;
        }
        if (byte == CMelkoAction::DLE) {
            if (i + 1 >= length) {
                return -1;
            }
            byte = buffer[++i];
        }
        buffer[kept++] = byte;
    }
    return -1;
}

int CMelkoParser::getTele(const CMelkoFrame* frame, CMelkoTele* tele) {
    char telegram[CMelkoFrame::MAX_DATA_LENGTH];
    unsigned long length = 0;
    frame->getData(telegram, &length);
    if (!checkCRC(telegram, static_cast<int>(length))) {
        return -1;
    }
    int kept = removeDLE(telegram, static_cast<int>(length));
    if (kept < MIN_TELEGRAM_LENGTH) {
        return -1;
    }
    tele->setDestination(telegram[1]);
    tele->setFunction(telegram[2]);
    tele->setSource(telegram[3]);
    tele->setInfoBytes(telegram + 4, kept - MIN_TELEGRAM_LENGTH);
    return kept - MIN_TELEGRAM_LENGTH;
}
