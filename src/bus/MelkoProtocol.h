#pragma once

#include "bus/MelkoTele.h"

#include <string>
#include <vector>

class CFileManager;
class CMelkoFrame;
class CMelkoNetwork;

// The tool's view of the finger print modules (FPM 1 to 8, bus address
// 0xC0 + number): the request/reply exchange, the module operations, and
// the backup and restore of each module's templates, configuration and CRC
// through the backup file. Run-ending failures are logged and thrown as an
// int exit code.
class CMelkoProtocol {
public:
    // The template area of every module: data addresses 0x30000 up to, not
    // including, 0x3F230.
    static constexpr unsigned long TEMPLATE_START = 0x30000;
    static constexpr unsigned long TEMPLATE_END = 0x3F230;
    static constexpr unsigned long TEMPLATE_SIZE = TEMPLATE_END - TEMPLATE_START;
    static constexpr int CFG_SIZE = 5;
    static constexpr int CRC_SIZE = 5;
    // Modules 1 to FPM_COUNT; the backup file names them FPM<number>.
    static constexpr int FPM_COUNT = 8;
    // Holds ADDRESS_FIRST_FPM + the master module's number, or
    // ADDRESS_FIRST_FPM alone when every module was saved on its own.
    static constexpr const char* MASTER_KEY = "FPM0.MASTER";

    // The backup file's key of a module's value, as "FPM<number>.<suffix>"
    // with the suffix DataLength, Data, CFG or CRC.
    static std::string fpmKey(int number, const char* suffix);

    CMelkoProtocol();
    virtual ~CMelkoProtocol();

    void initialize();

    // Waits for the reply to the request the frame holds and puts it into
    // the frame. A telegram to 0xCF or 0xFF needs no reply: the wait is then
    // 300 ms and a missing reply counts as success.
    bool readPackage(CMelkoFrame* frame, unsigned char headerSize, unsigned long timeoutMs);

    // Module operations.
    bool lookupBusForId(unsigned char address);
    bool setFPMCfg(char address, const char* cfg);
    // A reply only counts when it decodes and comes from the address. A
    // retry asks again for what the last request asked.
    bool getFPMCfg(char address, CMelkoTele* reply, bool retry = false);
    bool getFPMCrc(char address, CMelkoTele* reply, bool retry = false);
    void compDB(char address);
    void cleanFPM(char address);
    void resetBus(char address);
    void setProgMode(bool on);

    // Every address that did not answer its lookup is asked again, up to
    // twice, before its module counts as absent: one lost reply on a noisy
    // bus must not leave a module out.
    void getAllFPM(std::vector<int>* list);
    bool isFPMAvailable(int number);
    bool setMasterFPM(int number);
    void cleanAllFPM();
    bool checkFPMCrc(char address, const char* expected);
    // Checks the modules of the list, the ones a write to all modules reached.
    std::string checkAllFPMCrc(const std::vector<int>& modules, const char* expected);
    std::string checkAllFPMCrc(const char* expected);
    std::string buildFPMNo(unsigned char address, const std::string& text);

    // Backup side.
    void backupAllFPM();
    void backupTemplates(unsigned char address);
    void backupFPMCfg(char address);
    void backupFPMCrc(char address);
    void saveTemplates2File(int number, CMelkoTele* templates);
    void saveFPMCfg2File(int number, CMelkoTele* reply);
    void saveFPMCrc2File(int number, CMelkoTele* reply);
    void saveMasterAddr2File(unsigned char address);

    // Restore side.
    void restoreAllFPM();
    void restoreFPM(int from, int to);
    void restoreTemplates(unsigned char address, const char* data, unsigned long count);
    bool restoreFPMCfg(char address);
    // onBus, when given, receives the modules the scan found.
    void generateFPMList(std::vector<int>* list, bool quiet, std::vector<int>* onBus = nullptr);
    // Logs at level 1 each module that a failed or interrupted restore has
    // cleaned but not written completely, so that the restore is run again.
    void reportUnfinishedModules() const;
    unsigned long readTemplatesFromFile(char number, char* buffer);
    int readFPMCfgFromFile(char number, char* buffer);
    int readFPMCrcFromFile(char number, char* buffer);
    void readMasterAddrFromFile(unsigned char* address);


private:
    // What a reply must be to answer a request: from the module asked, with
    // the function code that answers the request and an info byte count in
    // range. Replies carry no request number; anything else on the
    // connection is a stale reply to an earlier request.
    struct ReplyRule {
        unsigned char source;
        unsigned char function;
        int minInfo;
        int maxInfo;
    };
    static ReplyRule ruleFor(char address, unsigned char function, int minInfo = 0,
                             int maxInfo = 0x7FFFFFFF);

    // Reads one reply frame within the time-out.
    bool receiveReply(CMelkoFrame* frame, unsigned long timeoutMs);
    // Waits up to the time-out for a reply that fits the rule, dropping
    // every stale one on the way. A missing reply that the module still
    // owes (owed) is waited for before the next request.
    bool awaitReply(const ReplyRule& rule, unsigned long timeoutMs, CMelkoTele* reply, bool owed);
    // The reply to a clean or a bus reset: optional, and only briefly
    // awaited, from a group.
    void awaitModuleReply(CMelkoFrame* frame, char address, unsigned char function,
                          unsigned long timeoutMs);
    // Sends the request the frame holds, after dropping what an earlier
    // exchange left on the connection. A new request first waits out the
    // replies still owed to earlier ones; a retry of the same request does
    // not, as any reply to it carries what it asks for.
    bool sendRequest(CMelkoFrame* frame, bool retry = false);
    // The request, then a reply that fits the rule, into reply.
    bool exchangeFrom(CMelkoFrame* frame, const ReplyRule& rule, unsigned long timeoutMs,
                      CMelkoTele* reply, bool retry = false);
    // A module may still answer a request after its time-out. Replies carry
    // no request number, so such a late reply would pass for the answer to
    // the next request (the previous template block stored as the next one,
    // a configuration as a CRC): before a new request the tool waits, up to
    // the longest time-out missed, for as many replies as are owed.
    void noteMissingReply(unsigned long timeoutMs);
    void drainLateReplies();
    // Reads the configuration or the CRC into reply; six failures end the
    // run (11).
    void readModuleValue(char address,
                         bool (CMelkoProtocol::*request)(char, CMelkoTele*, bool),
                         CMelkoTele* reply);
    // One module: its CRC before and after the templates, which must agree.
    void backupModule(unsigned char address);
    // Reads one template block into reply. A block counts as read when two
    // replies in a row carry the same bytes: a damaged reply that passes the
    // checksum, or a stale one, never does. False after six replies that were
    // missing, wrong or disagreed. A block that needed more than two reads
    // adds 1 to retried.
    bool readBlock(unsigned char address, unsigned long dataAddress, int size, CMelkoTele* reply,
                   int* retried);
    bool writeAnswered(CMelkoFrame* frame, unsigned char address);
    // Writes a block back; false when six attempts stayed without a reply.
    bool echoBlock(unsigned char address, unsigned long dataAddress, const char* data, int size,
                   int* retried);
    void restoreModule(unsigned char target, const char* templates, unsigned long count,
                       const char* crc, std::string* wrongCrc);
    // Logs the result; throws 9 when a module failed its CRC check, else 13
    // when a module of the file was not on the bus.
    void finishRestore(const std::string& wrongCrc, const std::string& notOnBus = std::string());

    std::vector<int> m_fpmList;
    int m_masterAddress;
    CMelkoNetwork* m_network;
    CFileManager* m_fileManager;
    int m_lateReplies;
    unsigned long m_lateReplyWaitMs;
    // Takes the replies whose content is not looked at, so that a block
    // write allocates nothing.
    CMelkoTele m_ignoredReply;
    // Cleaned by this restore and not yet written again.
    std::vector<int> m_cleanedNotRestored;
};
