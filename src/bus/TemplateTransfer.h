#pragma once

#include <functional>

class CMelkoExchange;
class CMelkoTele;

// The transfer of a module's template area, block by block: read for a
// backup (each block read until two replies agree, then written back to
// the module), written for a restore. A module that stops answering ends
// the run (11).
class CTemplateTransfer {
public:
    // The template area of every module: data addresses 0x30000 up to, not
    // including, 0x3F230.
    static constexpr unsigned long TEMPLATE_START = 0x30000;
    static constexpr unsigned long TEMPLATE_END = 0x3F230;
    static constexpr unsigned long TEMPLATE_SIZE = TEMPLATE_END - TEMPLATE_START;

    explicit CTemplateTransfer(CMelkoExchange& exchange);
    CTemplateTransfer(const CTemplateTransfer&) = delete;
    CTemplateTransfer& operator=(const CTemplateTransfer&) = delete;

    // Reads the module's template area into templates, echoing every block
    // back to the module. When the module stops answering, templates keeps
    // what was read, for the partial file.
    void backupTemplates(unsigned char address, CMelkoTele* templates);
    // Writes the whole template area from data (at least TEMPLATE_SIZE
    // bytes) to the module or, at 0xCF, to all modules at once.
    void restoreTemplates(unsigned char address, const char* data);

private:
    enum class Written { Answered, Unanswered, NotSent };

    // Runs step for each block of the template area (offset from its start,
    // size) and shows the progress after each.
    void forEachBlock(unsigned char address, const char* direction, const int* retried,
                      const std::function<void(unsigned long, int)>& step);
    // Reads one template block into reply. A block counts as read when two
    // replies in a row carry the same bytes: a damaged reply that passes the
    // checksum, or a stale one, never does. False after six replies that were
    // missing, wrong or disagreed. A block that needed more than two reads
    // adds 1 to retried.
    bool readBlock(unsigned char address, unsigned long dataAddress, int size, CMelkoTele* reply,
                   int* retried);
    // Writes one block, up to six times 700 ms apart while the write stays
    // without a reply; afterMiss runs after each such write. A block that
    // needed more than one write adds 1 to retried.
    Written writeBlock(unsigned char address, unsigned long dataAddress, const char* data, int size,
                       int* retried, const std::function<void()>& afterMiss);

    CMelkoExchange& m_exchange;
};
