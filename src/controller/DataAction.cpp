#include "controller/DataAction.h"

#include "controller/Frame.h"

namespace {

// The controller checks the password of its 'Service' user.
const unsigned char SERVICE_USER_ID = 4;

void buildHeader(CFrame* frame, unsigned char type, unsigned char dataId) {
    frame->setSOH(CFrame::SOH);
    frame->setType(type);
    frame->setDataId(dataId);
}

} // namespace

void CDataAction::buildBackupMsg(CFrame* frame, unsigned char dataId) {
    buildHeader(frame, CFrame::TYPE_BACKUP, dataId);
}

void CDataAction::buildGetVersionMsg(CFrame* frame) {
    buildHeader(frame, CFrame::TYPE_GET_VERSION, 0);
}

void CDataAction::buildRestoreMsg(CFrame* frame, unsigned char dataId, char* data,
                                  unsigned long length) {
    buildHeader(frame, CFrame::TYPE_RESTORE, dataId);
    frame->setData(data, length);
}

void CDataAction::buildRestoreMsg(CFrame* frame, unsigned char dataId, std::vector<char> data) {
    buildHeader(frame, CFrame::TYPE_RESTORE, dataId);
    frame->setData(std::move(data));
}

void CDataAction::buildComparePassword(CFrame* frame, std::string password) {
    buildHeader(frame, CFrame::TYPE_COMPARE_PASSWORD, SERVICE_USER_ID);
    const char placeholder = EMPTY_PASSWORD_PLACEHOLDER;
    frame->setData(&placeholder, 1);
    if (!password.empty()) {
        frame->setData(password.data(), password.size());
    }
}
