#include "store/Node.h"

CNode::CNode() : m_right(nullptr), m_left(nullptr), m_count(1) {}

// The children belong to the map, which deletes every node itself.
CNode::~CNode() = default;
