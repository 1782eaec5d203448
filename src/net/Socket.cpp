#include "net/Socket.h"

#include <unistd.h>

CSocket::~CSocket() {
    close();
}

void CSocket::reset(int descriptor) {
    if (m_descriptor >= 0 && m_descriptor != descriptor) {
        ::close(m_descriptor);
    }
    m_descriptor = descriptor;
}
