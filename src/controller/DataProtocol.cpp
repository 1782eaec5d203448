#include "controller/DataProtocol.h"

#include "base/ExitCode.h"
#include "base/Logger.h"
#include "controller/DataAction.h"
#include "controller/DataNetwork.h"
#include "controller/Frame.h"
#include "store/FileManager.h"

#include <algorithm>
#include <new>
#include <sstream>
#include <utility>

namespace {

const char* const DATA_SET_NAMES[CDataProtocol::DATA_SET_COUNT] = {
    "UserManagerConfig", "ConfigManager", "DayLightConfig", "SystemTimeConfig"};

const unsigned long SEND_TIMEOUT_MS = 60000;
const unsigned long HEADER_TIMEOUT_MS = 120000;
const unsigned long DATA_TIMEOUT_MS = 60000;

const unsigned char PASSWORD_ACCEPTED = 1;

std::vector<char> allocateBuffer(unsigned long size) {
    try {
        return std::vector<char>(size);
    } catch (const std::bad_alloc&) {
        logMemoryError();
        throw;
    }
}

} // namespace

CDataProtocol::CDataProtocol() : m_fileManager(nullptr), m_network(nullptr) {}

CDataProtocol::~CDataProtocol() {}

void CDataProtocol::initialize() {
    m_network = CDataNetwork::getInstance();
    m_fileManager = CFileManager::getInstance();
}

std::string CDataProtocol::dataSetName(int dataId) {
    return dataId >= 0 && dataId < DATA_SET_COUNT ? DATA_SET_NAMES[dataId] : "";
}

std::string CDataProtocol::lengthKey(int dataId) {
    return dataSetName(dataId) + ".DataLength";
}

std::string CDataProtocol::dataKey(int dataId) {
    return dataSetName(dataId) + ".Data";
}

void CDataProtocol::getDataNameById(unsigned char dataId, std::string* name) {
    if (dataId < DATA_SET_COUNT) {
        *name = DATA_SET_NAMES[dataId];
    }
}

bool CDataProtocol::readPackage(CFrame* frame, unsigned char headerSize) {
    long length = m_network->receiveFrameHeader(frame, headerSize, HEADER_TIMEOUT_MS);
    if (length == -1) {
        return false;
    }
    return m_network->receiveFrameData(frame, static_cast<unsigned long>(length), DATA_TIMEOUT_MS);
}

bool CDataProtocol::checkResponseError(const char* /*text*/, CFrame* frame) {
    return frame->getType() == CFrame::TYPE_RESPONSE &&
           (frame->getDataId() == 1 || frame->getDataId() == 2);
}

float CDataProtocol::getVersion() {
    CFrame frame;
    CDataAction action;
    action.buildGetVersionMsg(&frame);
    if (!m_network->sendFrame(&frame, SEND_TIMEOUT_MS)) {
        return 0;
    }
    if (!readPackage(&frame, CFrame::SHORT_HEADER_SIZE)) {
        return 0;
    }
    if (frame.getType() != CFrame::TYPE_VERSION_REPLY) {
        return 0;
    }
    return static_cast<float>(frame.getDataId());
}

bool CDataProtocol::comparePassword(std::string password) {
    CFrame frame;
    CDataAction action;
    action.buildComparePassword(&frame, std::move(password));
    if (!m_network->sendFrame(&frame, SEND_TIMEOUT_MS)) {
        return false;
    }
    if (!readPackage(&frame, CFrame::SHORT_HEADER_SIZE)) {
        return false;
    }
    return frame.getType() == CFrame::TYPE_PASSWORD_REPLY && frame.getDataId() == PASSWORD_ACCEPTED;
}

bool CDataProtocol::checkVersion(unsigned long controllerVersion) {
    float fileVersion = m_fileManager->getDataFloat(VERSION_KEY);
    std::ostringstream fileText;
    fileText << static_cast<double>(fileVersion);
    if (fileVersion < static_cast<float>(OLDEST_FILE_VERSION)) {
        CLogger::getInstance()->log("Incompatible versions of backup file (" + fileText.str() +
                                        ") and backup software.",
                                    2);
        return false;
    }
    if (fileVersion != static_cast<float>(controllerVersion)) {
        CLogger::getInstance()->log("Incompatible versions of backup file(" + fileText.str() +
                                        ") and controller (" + std::to_string(controllerVersion) +
                                        ").",
                                    2);
        return false;
    }
    return true;
}

bool CDataProtocol::backupAllTursaData(unsigned long version) {
    m_fileManager->writeData(VERSION_KEY, static_cast<long>(version));
    bool result = false;
    for (int dataId = 0; dataId < DATA_SET_COUNT; ++dataId) {
        std::string name = DATA_SET_NAMES[dataId];
        CLogger::getInstance()->log("Backup data from " + name + " ...", 3);
        result = backupData(dataId);
        if (!result) {
            break;
        }
        CLogger::getInstance()->log("  " + name + " ...finished.", 3);
    }
    CLogger::getInstance()->log("Backup of the controller finished.", 2);
    return result;
}

bool CDataProtocol::backupData(int dataId) {
    CFrame frame;
    CDataAction action;
    action.buildBackupMsg(&frame, static_cast<unsigned char>(dataId));
    if (!m_network->sendFrame(&frame, SEND_TIMEOUT_MS)) {
        failRun("Network unreachable.", EXIT_NETWORK_UNREACHABLE);
    }
    long length =
        m_network->receiveFrameHeader(&frame, CFrame::LONG_HEADER_SIZE, HEADER_TIMEOUT_MS);
    if (length == -1) {
        failRun("Network unreachable.", EXIT_NETWORK_UNREACHABLE);
    }
    if (static_cast<unsigned long>(length) > MAX_DATA_SET_LENGTH) {
        failRun("Communication error.", EXIT_COMMUNICATION_ERROR);
    }
    if (!m_network->receiveFrameData(&frame, static_cast<unsigned long>(length), DATA_TIMEOUT_MS)) {
        failRun("Communication error.", EXIT_COMMUNICATION_ERROR);
    }
    // A reply for another set, or the controller's empty error response,
    // must not be stored as this set's data.
    if (frame.getDataId() != dataId || (length == 0 && checkResponseError("", &frame))) {
        failRun("Communication error.", EXIT_COMMUNICATION_ERROR);
    }
    saveData2File(&frame);
    return true;
}

void CDataProtocol::saveData2File(CFrame* frame) {
    std::string name;
    getDataNameById(frame->getDataId(), &name);
    unsigned long length = frame->getDataLength();
    m_fileManager->writeData(name + ".DataLength", static_cast<long>(length));
    const std::vector<char>& block = frame->getDataBlock();
    length = std::min<unsigned long>(length, block.size());
    if (length == 0) {
        return;
    }
    // Encoded straight from the received block: a data set is held once
    // as bytes and once as text, never more.
    m_fileManager->writeData(name + ".Data", block.data(), length);
}

void CDataProtocol::createKeyList(std::vector<std::string>* keys) {
    keys->push_back(VERSION_KEY);
    for (int dataId = 0; dataId < DATA_SET_COUNT; ++dataId) {
        keys->push_back(lengthKey(dataId));
        keys->push_back(dataKey(dataId));
    }
}

unsigned long CDataProtocol::readDataSizeFromFile(int dataId) {
    return static_cast<unsigned long>(m_fileManager->getDataDWord(lengthKey(dataId)));
}

unsigned long CDataProtocol::readDataFromFile(int dataId, char* buffer) {
    unsigned long length = readDataSizeFromFile(dataId);
    if (length != 0) {
        m_fileManager->getData(dataKey(dataId), buffer, static_cast<int>(length));
    }
    return length;
}

bool CDataProtocol::restoreAllTursaData(unsigned long version) {
    if (!checkVersion(version)) {
        failRun("Backup file version not compatible.", EXIT_INCOMPATIBLE_VERSION);
    }
    for (int dataId = 0; dataId < DATA_SET_COUNT; ++dataId) {
        std::string name = DATA_SET_NAMES[dataId];
        CLogger::getInstance()->log("Get data for " + name, 4);
        std::vector<char> buffer = allocateBuffer(readDataSizeFromFile(dataId));
        readDataFromFile(dataId, buffer.data());
        if (!restoreData(static_cast<unsigned char>(dataId), std::move(buffer))) {
            failRun("Could not restore data.", EXIT_RESTORE_REFUSED);
        }
        CLogger::getInstance()->log("Restored " + name, 3);
    }
    CLogger::getInstance()->log("Restore of the controller data finished", 2);
    return true;
}

bool CDataProtocol::restoreData(unsigned char dataId, char* data, unsigned long length) {
    return restoreData(dataId, std::vector<char>(data, data + length));
}

bool CDataProtocol::restoreData(unsigned char dataId, std::vector<char> data) {
    CFrame frame;
    CDataAction action;
    action.buildRestoreMsg(&frame, dataId, std::move(data));
    if (!m_network->sendFrame(&frame, SEND_TIMEOUT_MS)) {
        failRun("Network unreachable.", EXIT_NETWORK_UNREACHABLE);
    }
    // Without a reply the controller has taken the set.
    long replyLength =
        m_network->receiveFrameHeader(&frame, CFrame::SHORT_HEADER_SIZE, HEADER_TIMEOUT_MS);
    if (replyLength == -1) {
        return true;
    }
    // The reply's header decides; an error response stays one even when its
    // data block breaks off.
    m_network->receiveFrameData(&frame, static_cast<unsigned long>(replyLength), DATA_TIMEOUT_MS);
    return !checkResponseError("", &frame);
}
