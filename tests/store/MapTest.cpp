#include "store/Map.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

namespace {

using Keys = std::vector<std::string>;

Keys listAfterAdding(const Keys& order) {
    CMyMap map;
    for (const std::string& key : order) {
        map.add(key, "v");
    }
    Keys keys;
    map.getAllKeys(&keys);
    return keys;
}

// The plain recursive unbalanced tree the map must list and answer like.
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
        node->value = value;
    }
}

void modelList(const std::unique_ptr<Model>& node, Keys* keys) {
    if (node) {
        keys->push_back(node->key);
        modelList(node->right, keys);
        modelList(node->left, keys);
    }
}

const Model* modelFind(const std::unique_ptr<Model>& node, const std::string& key) {
    if (!node || node->key == key) {
        return node.get();
    }
    return modelFind(key < node->key ? node->left : node->right, key);
}

} // namespace

TEST(StoreMap, ListingOrderEmptyMapAndReplacement) {
    EXPECT_EQ(listAfterAdding({"b", "a", "c", "d"}), (Keys{"b", "c", "d", "a"}));
    EXPECT_EQ(listAfterAdding({"beta", "alpha", "gamma"}), (Keys{"beta", "gamma", "alpha"}));
    // Bytes compare unsigned, a prefix is smaller, the empty key smallest.
    EXPECT_EQ(listAfterAdding({"a", "\x80", "b"}), (Keys{"a", "\x80", "b"}));
    EXPECT_EQ(listAfterAdding({"ab", "a", "abc", ""}), (Keys{"ab", "abc", "a", ""}));

    CMyMap map;
    std::string value = "untouched";
    Keys keys{"earlier"};
    EXPECT_FALSE(map.getValueByKey("", &value));
    EXPECT_EQ(value, "untouched");
    EXPECT_EQ(map.getAllKeys(&keys), 1);
    for (const char* key : {"m", "c", "x", "a", "c", "m"}) {
        map.add(key, key + std::to_string(map.getSize()));
    }
    EXPECT_EQ(map.getSize(), 6); // replacements count as adds
    EXPECT_TRUE(map.getValueByKey("c", &value));
    EXPECT_EQ(value, "c4");
    EXPECT_EQ(map.getAllKeys(&keys), 5);
    EXPECT_EQ(keys, (Keys{"earlier", "m", "x", "c", "a"}));
    map.removeAll();
    EXPECT_EQ(map.getSize(), 0);
    EXPECT_FALSE(map.keyExists("m"));
}

TEST(StoreMap, MatchesRecursiveTreeOnRandomInsertionOrders) {
    // Short keys over few symbols give many prefixes, repeats and the empty key.
    const std::string symbols = "ab\x80\xff";
    std::mt19937 random(20240611);
    auto randomKey = [&] {
        std::string key;
        for (int length = random() % 4; length > 0; --length) {
            key += symbols[random() % symbols.size()];
        }
        return key;
    };
    for (int round = 0; round < 400; ++round) {
        CMyMap map;
        std::unique_ptr<Model> model;
        int adds = random() % 40;
        for (int i = 0; i < adds; ++i) {
            std::string key = randomKey();
            map.add(key, std::to_string(i));
            modelAdd(model, key, std::to_string(i));
        }
        Keys expected;
        Keys listed;
        modelList(model, &expected);
        map.getAllKeys(&listed);
        ASSERT_EQ(listed, expected) << "round " << round;
        EXPECT_EQ(map.getSize(), adds);
        for (int probe = 0; probe < 20; ++probe) {
            std::string key = randomKey();
            const Model* found = modelFind(model, key);
            std::string value = "none";
            EXPECT_EQ(map.getValueByKey(key, &value), found != nullptr);
            EXPECT_EQ(value, found ? found->value : "none");
        }
    }
}
