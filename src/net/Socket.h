#pragma once

// Owns one socket descriptor and closes it: when another one takes its
// place, on close(), and when the owner goes.
class CSocket {
public:
    CSocket() : m_descriptor(-1) {}
    ~CSocket();
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;

    int get() const { return m_descriptor; }
    bool isOpen() const { return m_descriptor >= 0; }
    // Closes the descriptor held so far and takes this one.
    void reset(int descriptor);
    void close() { reset(-1); }

private:
    int m_descriptor;
};
