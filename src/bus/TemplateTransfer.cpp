#include "bus/TemplateTransfer.h"

#include "base/Logger.h"
#include "base/Progress.h"
#include "bus/MelkoAction.h"
#include "bus/MelkoExchange.h"
#include "bus/MelkoFrame.h"
#include "bus/MelkoTele.h"
#include "bus/ModuleName.h"
#include "net/Timer.h"

#include <cstring>

namespace {

const unsigned long BLOCK_TIMEOUT_MS = 1000;
const unsigned long RESEND_PAUSE_MS = 700;
// A block is given up after this many attempts in a row without a usable reply.
const int MAX_ATTEMPTS = 6;
const int BLOCK_SIZE = 128;

// Blocks of 128 bytes while they end inside the area, then the 48 bytes
// left, then 0, which ends the transfer.
int nextBlockSize(unsigned long dataAddress) {
    if (dataAddress + BLOCK_SIZE <= CTemplateTransfer::TEMPLATE_END - 1) {
        return BLOCK_SIZE;
    }
    return static_cast<signed char>((CTemplateTransfer::TEMPLATE_END - dataAddress) & 0xFF);
}

void showTransfer(unsigned char address, const char* direction, unsigned long done, int retried) {
    CProgress::show(CModuleName::label(address) + ": " + direction + " " +
                    std::to_string(done * 100 / CTemplateTransfer::TEMPLATE_SIZE) + " %, " +
                    std::to_string(retried) + " blocks retried");
}

} // namespace

CTemplateTransfer::CTemplateTransfer(CMelkoExchange& exchange) : m_exchange(exchange) {}

void CTemplateTransfer::forEachBlock(unsigned char address, const char* direction,
                                     const int* retried,
                                     const std::function<void(unsigned long, int)>& step) {
    const bool progress = CProgress::isEnabled();
    unsigned long offset = 0;
    for (int size = BLOCK_SIZE; size > 0; size = nextBlockSize(TEMPLATE_START + offset)) {
        step(offset, size);
        offset += static_cast<unsigned long>(size);
        if (progress) {
            showTransfer(address, direction, offset, *retried);
        }
    }
}

// Every block is read, then echoed back to the module.
void CTemplateTransfer::backupTemplates(unsigned char address, CMelkoTele* templates) {
    CMelkoTele reply;
    int retried = 0;
    try {
        forEachBlock(address, "backup", &retried, [&](unsigned long offset, int size) {
            const unsigned long dataAddress = TEMPLATE_START + offset;
            if (!readBlock(address, dataAddress, size, &reply, &retried)) {
                CMelkoExchange::failUnreachable();
            }
            templates->setSource(reply.getSource());
            templates->appendInfoBytes(reply.getInfoBytes(), size);
            const Written echo =
                writeBlock(address, dataAddress, reply.getInfoBytes(), size, &retried, [] {});
            if (echo == Written::NotSent) {
                // The next read request finds out whether the connection is gone.
                CLogger::getInstance()->log("Network unreachable.", 1);
            } else if (echo == Written::Unanswered) {
                CMelkoExchange::failUnreachable();
            }
        });
    } catch (int) {
        CProgress::clear();
        throw;
    }
    CProgress::clear();
}

// Only a reply that decodes, comes from the addressed module and carries
// exactly the requested byte count holds the block; anything else is
// retried like a missing reply.
bool CTemplateTransfer::readBlock(unsigned char address, unsigned long dataAddress, int size,
                                  CMelkoTele* reply, int* retried) {
    CMelkoFrame frame;
    CMelkoAction action;
    const CMelkoExchange::ReplyRule rule = CMelkoExchange::ruleFor(
        static_cast<char>(address), CMelkoAction::FUNCTION_READ_DATA, size, size);
    char earlier[BLOCK_SIZE];
    bool haveEarlier = false;
    int failures = 0;
    for (int read = 0; failures < MAX_ATTEMPTS; ++read) {
        action.buildReadDataMsg(&frame, static_cast<char>(address), dataAddress, size);
        if (!m_exchange.sendRequest(&frame, read > 0)) {
            CMelkoExchange::failUnreachable();
        }
        if (!m_exchange.awaitReply(rule, BLOCK_TIMEOUT_MS, reply, true)) {
            *retried += ++failures == 1 ? 1 : 0;
            continue;
        }
        const size_t length = static_cast<size_t>(size);
        if (haveEarlier && memcmp(earlier, reply->getInfoBytes(), length) == 0) {
            return true;
        }
        if (haveEarlier) {
            *retried += ++failures == 1 ? 1 : 0;
        }
        memcpy(earlier, reply->getInfoBytes(), length);
        haveEarlier = true;
    }
    return false;
}

// A block write to a group needs no reply; a module acknowledges it.
CTemplateTransfer::Written CTemplateTransfer::writeBlock(unsigned char address,
                                                         unsigned long dataAddress,
                                                         const char* data, int size, int* retried,
                                                         const std::function<void()>& afterMiss) {
    CMelkoFrame frame;
    CMelkoAction action;
    CTimer timer;
    for (int attempt = 0; attempt < MAX_ATTEMPTS; ++attempt) {
        if (attempt > 0) {
            timer.waitMillis(RESEND_PAUSE_MS);
        }
        action.buildWriteDataMsg(&frame, static_cast<char>(address), dataAddress, data, size);
        if (!m_exchange.sendRequest(&frame, attempt > 0)) {
            return Written::NotSent;
        }
        if (m_exchange.awaitAnswer(&frame, static_cast<char>(address),
                                   CMelkoAction::FUNCTION_WRITE_DATA, BLOCK_TIMEOUT_MS, true)) {
            return Written::Answered;
        }
        *retried += attempt == 0 ? 1 : 0;
        afterMiss();
    }
    return Written::Unanswered;
}

// The whole template area is written: the data holds zeros past what the
// file recorded.
void CTemplateTransfer::restoreTemplates(unsigned char address, const char* data) {
    const std::string target = CModuleName::hex(address);
    CLogger::getInstance()->log("Restore finger prints to " + target, 4);
    const bool progress = CProgress::isEnabled();
    int retried = 0;
    forEachBlock(address, "restore", &retried, [&](unsigned long offset, int size) {
        const Written written =
            writeBlock(address, TEMPLATE_START + offset, data + offset, size, &retried, [&] {
                if (progress) {
                    showTransfer(address, "restore", offset, retried);
                }
            });
        if (written == Written::NotSent) {
            CMelkoExchange::failUnreachable();
        }
        if (written == Written::Unanswered) {
            // A restore pauses after its last unanswered write as after every other.
            CTimer().waitMillis(RESEND_PAUSE_MS);
            CProgress::clear();
            CMelkoExchange::failUnreachable();
        }
    });
    CProgress::clear();
    CLogger::getInstance()->log("Restore finger prints to " + target + " finished.", 4);
}
