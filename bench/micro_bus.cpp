// Bus telegrams: building a write request with a 128-byte template block
// (the echo of every block of a backup) and decoding a module's 128-byte
// read reply (every block of a backup), each 3,880 times in an eight-module
// backup.
//   build/micro_bus
#include "bus/MelkoAction.h"
#include "bus/MelkoFrame.h"
#include "bus/MelkoParser.h"
#include "bus/MelkoTele.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

const int BLOCK_SIZE = 128;
const unsigned long TEMPLATE_START = 0x30000;
const char MODULE = static_cast<char>(CMelkoAction::ADDRESS_FIRST_FPM + 1);

// Random bytes: about one in 64 needs stuffing, as in real template data.
std::vector<char> randomBlock(int size) {
    std::mt19937 random(62000);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<char> block(static_cast<size_t>(size));
    for (char& value : block) {
        value = static_cast<char>(byte(random));
    }
    return block;
}

// The module's reply to a read request: STX, the tool as destination, the
// read function, the module as source, the data bytes, checksum and ETX,
// stuffed by the tool's own routines.
void buildReadReply(CMelkoFrame* frame, const std::vector<char>& data) {
    char telegram[CMelkoFrame::MAX_DATA_LENGTH];
    telegram[0] = CMelkoAction::STX;
    telegram[1] = static_cast<char>(CMelkoAction::ADDRESS_TOOL);
    telegram[2] = static_cast<char>(CMelkoAction::FUNCTION_READ_DATA);
    telegram[3] = MODULE;
    std::copy(data.begin(), data.end(), telegram + 4);
    int length = 4 + static_cast<int>(data.size());
    CMelkoAction action;
    action.addDLE(telegram, &length);
    action.addCRC(telegram, &length);
    telegram[length++] = CMelkoAction::ETX;
    frame->setType(CMelkoFrame::TYPE_TELEGRAM);
    frame->setData(telegram, static_cast<unsigned long>(length));
}

void BM_BuildWriteDataMsg(benchmark::State& state) {
    const std::vector<char> block = randomBlock(BLOCK_SIZE);
    CMelkoAction action;
    CMelkoFrame frame;
    unsigned long address = TEMPLATE_START;
    for (auto _ : state) {
        action.buildWriteDataMsg(&frame, MODULE, address, block.data(), BLOCK_SIZE);
        benchmark::DoNotOptimize(frame);
        benchmark::ClobberMemory();
    }
    // The request carries the 5 address bytes and the block.
    if (frame.getDataLength() < 4 + 5 + BLOCK_SIZE + 2) {
        state.SkipWithError("the write request is too short");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * BLOCK_SIZE);
}
BENCHMARK(BM_BuildWriteDataMsg);

void BM_GetTeleReadReply(benchmark::State& state) {
    CMelkoFrame frame;
    buildReadReply(&frame, randomBlock(BLOCK_SIZE));
    CMelkoParser parser;
    CMelkoTele tele;
    int infoBytes = 0;
    for (auto _ : state) {
        infoBytes = parser.getTele(&frame, &tele);
        benchmark::DoNotOptimize(infoBytes);
        benchmark::ClobberMemory();
    }
    if (infoBytes != BLOCK_SIZE || tele.getSource() != MODULE) {
        state.SkipWithError("the read reply did not decode to its 128 bytes");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * BLOCK_SIZE);
}
BENCHMARK(BM_GetTeleReadReply);

} // namespace
