#pragma once

#include <string>
#include <utility>

// One entry of the key map. A node never owns its children: the map
// creates and deletes every node itself.
class CNode {
public:
    CNode();
    virtual ~CNode();

    // By reference: a value may hold a data set of hundreds of megabytes,
    // and neither reading nor storing it may copy it.
    const std::string& getKey() const { return m_key; }
    void setKey(std::string key) { m_key = std::move(key); }
    const std::string& getValue() const { return m_value; }
    void setValue(std::string value) { m_value = std::move(value); }
    CNode* getLeft() const { return m_left; }
    void setLeft(CNode* node) { m_left = node; }
    CNode* getRight() const { return m_right; }
    void setRight(CNode* node) { m_right = node; }
    int getCount() const { return m_count; }
    void setCount(int count) { m_count = count; }

private:
    CNode* m_right;
    CNode* m_left;
    int m_count;
    std::string m_value;
    std::string m_key;
};
