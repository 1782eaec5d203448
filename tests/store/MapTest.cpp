#include "store/Map.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

namespace {

// The plain recursive tree the map must list like: node, right subtree, left subtree.
struct Model {
    std::string key, value;
    std::unique_ptr<Model> left, right;
};

void modelAdd(std::unique_ptr<Model>& node, const std::string& key, const std::string& value) {
    if (!node) {
        node.reset(new Model{key, value, nullptr, nullptr});
    } else if (key != node->key) {
        modelAdd(key < node->key ? node->left : node->right, key, value);
    } else {
        node->value = value; // a replacement keeps the position
    }
}

void modelList(const std::unique_ptr<Model>& node, std::vector<std::string>* lines) {
    if (node) {
        lines->push_back(node->key + "=" + node->value);
        modelList(node->right, lines);
        modelList(node->left, lines);
    }
}

} // namespace

TEST(StoreMap, ListsLikeRecursiveTreeOnRandomInsertionOrders) {
    // Short keys over few symbols: prefixes, replacements, bytes > 0x7F, the empty key.
    const std::string symbols = "ab\x80\xff";
    std::mt19937 random(20240611);
    for (int round = 0; round < 400; ++round) {
        CMyMap map;
        std::unique_ptr<Model> model;
        for (int i = random() % 40; i > 0; --i) {
            std::string key;
            for (int length = random() % 4; length > 0; --length) {
                key += symbols[random() % symbols.size()];
            }
            map.add(key, std::to_string(i));
            modelAdd(model, key, std::to_string(i));
        }
        std::vector<std::string> keys, expected, listed;
        modelList(model, &expected);
        EXPECT_EQ(map.getAllKeys(&keys), static_cast<int>(expected.size()));
        for (const std::string& key : keys) {
            std::string value = "none";
            EXPECT_TRUE(map.getValueByKey(key, &value));
            listed.push_back(key + "=" + value);
        }
        ASSERT_EQ(listed, expected) << "round " << round;
    }
}
