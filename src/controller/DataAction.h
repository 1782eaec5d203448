#pragma once

#include <string>
#include <vector>

class CFrame;

// Fills a frame with one of the tool's requests to the controller.
class CDataAction {
public:
    // Stands for an empty password, so that the password block is never empty.
    static constexpr char EMPTY_PASSWORD_PLACEHOLDER = 0x00;

    CDataAction() {}
    ~CDataAction() {}

    void buildBackupMsg(CFrame* frame, unsigned char dataId);
    void buildGetVersionMsg(CFrame* frame);
    void buildRestoreMsg(CFrame* frame, unsigned char dataId, char* data, unsigned long length);
    // The same, taking the data set over instead of copying it.
    void buildRestoreMsg(CFrame* frame, unsigned char dataId, std::vector<char> data);
    void buildComparePassword(CFrame* frame, std::string password);
};
