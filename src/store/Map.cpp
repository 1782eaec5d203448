#include "store/Map.h"

#include "store/Node.h"

#include <climits>
#include <iterator>
#include <memory>

CMyMap::CMyMap() : m_root(nullptr), m_size(0) {}

CMyMap::~CMyMap() {
    removeAll();
}

void CMyMap::add(std::string key, std::string value) {
    CNode* existing = lookup(key);
    if (existing != nullptr) {
        existing->setValue(std::move(value));
    } else {
        std::unique_ptr<CNode> node(new CNode());
        node->setKey(key);
        node->setValue(std::move(value));
        // Index first: if it cannot grow, the tree has not been touched.
        m_index.emplace(std::move(key), node.get());
        linkNewNode(node.release());
    }
    // Counts calls, replacements included; saturating keeps it non-zero
    // for a non-empty map even after an absurd number of lines.
    if (m_size < INT_MAX) {
        ++m_size;
    }
}

bool CMyMap::keyExists(const std::string& key) const {
    return lookup(key) != nullptr;
}

bool CMyMap::getValueByKey(const std::string& key, std::string* value) const {
    const CNode* node = lookup(key);
    if (node == nullptr) {
        return false;
    }
    *value = node->getValue();
    return true;
}

const std::string* CMyMap::findValue(const std::string& key) const {
    const CNode* node = lookup(key);
    return node == nullptr ? nullptr : &node->getValue();
}

// Pre-order with the right subtree before the left one: the order in which
// the backup file lists its lines.
int CMyMap::getAllKeys(std::vector<std::string>* keys) const {
    keys->reserve(keys->size() + m_index.size());
    std::vector<const CNode*> pending;
    if (m_root != nullptr) {
        pending.push_back(m_root);
    }
    while (!pending.empty()) {
        const CNode* node = pending.back();
        pending.pop_back();
        keys->push_back(node->getKey());
        // Pushed last, popped first: the right subtree comes before the left.
        if (node->getLeft() != nullptr) {
            pending.push_back(node->getLeft());
        }
        if (node->getRight() != nullptr) {
            pending.push_back(node->getRight());
        }
    }
    return static_cast<int>(keys->size());
}

void CMyMap::removeAll() {
    std::vector<CNode*> pending;
    if (m_root != nullptr) {
        pending.push_back(m_root);
    }
    while (!pending.empty()) {
        CNode* node = pending.back();
        pending.pop_back();
        if (node->getLeft() != nullptr) {
            pending.push_back(node->getLeft());
        }
        if (node->getRight() != nullptr) {
            pending.push_back(node->getRight());
        }
        delete node;
    }
    m_index.clear();
    m_root = nullptr;
    m_size = 0;
}

CNode* CMyMap::lookup(const std::string& key) const {
    auto found = m_index.find(key);
    return found == m_index.end() ? nullptr : found->second;
}

// A plain descent from the root would end at the null child between the
// new key's in-order neighbours. One neighbour is an ancestor of the other,
// so exactly one of those two children is free: the predecessor's right
// child or the successor's left child. The node must already be indexed.
void CMyMap::linkNewNode(CNode* node) {
    if (m_root == nullptr) {
        m_root = node;
        return;
    }
    auto position = m_index.find(node->getKey());
    if (position != m_index.begin()) {
        CNode* predecessor = std::prev(position)->second;
        if (predecessor->getRight() == nullptr) {
            predecessor->setRight(node);
            return;
        }
    }
    std::next(position)->second->setLeft(node);
}
