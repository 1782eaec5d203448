#include "BusFrame.h"

namespace sim {

std::string BusFrame::wrap(const std::string& telegram) {
    std::string wire;
    wire.push_back(static_cast<char>(kStart));
    wire.push_back(static_cast<char>(kTelegramType));
    wire.push_back(static_cast<char>(telegram.size() & 0xFF));
    wire.push_back(static_cast<char>((telegram.size() >> 8) & 0xFF));
    return wire + telegram;
}

} // namespace sim
