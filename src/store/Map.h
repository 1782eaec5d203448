#pragma once

#include <map>
#include <string>
#include <vector>

class CNode;

// The backup file's entries: an unbalanced binary search tree whose shape,
// fixed by the order of first insertion, gives the order in which the file
// lists its lines (node, right subtree, left subtree). A sorted index beside
// the tree keeps lookups and insertions logarithmic, and every walk is
// iterative, so a large or hostile file can neither go quadratic nor
// exhaust the stack.
class CMyMap {
public:
    CMyMap();
    virtual ~CMyMap();
    // Owns its nodes: a copy would delete them twice.
    CMyMap(const CMyMap&) = delete;
    CMyMap& operator=(const CMyMap&) = delete;

    int getSize() const { return m_size; }
    void add(std::string key, std::string value);
    bool keyExists(const std::string& key) const;
    bool getValueByKey(const std::string& key, std::string* value) const;
    // The stored value itself, valid until the key is replaced or removed;
    // nullptr for an absent key.
    const std::string* findValue(const std::string& key) const;
    int getAllKeys(std::vector<std::string>* keys) const;
    void removeAll();

private:
    CNode* lookup(const std::string& key) const;
    void linkNewNode(CNode* node);

    CNode* m_root;
    int m_size;
    std::map<std::string, CNode*> m_index;
};
