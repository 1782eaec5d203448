#include "store/Map.h"

#include "e2e/BackupFile.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

// The map lists like the plain recursive tree of its keys (node, right
// subtree, left subtree), a replaced value keeping its key's place.
TEST(StoreMap, ListsLikeRecursiveTreeOnRandomInsertionOrders) {
    // Short keys over few symbols: prefixes, replacements, bytes > 0x7F, the empty key.
    const std::string symbols = "ab\x80\xff";
    std::mt19937 random(20240611);
    for (int round = 0; round < 400; ++round) {
        CMyMap map;
        std::vector<std::string> insertions;
        std::map<std::string, std::string> values;
        for (int i = random() % 40; i > 0; --i) {
            std::string key;
            for (int length = random() % 4; length > 0; --length) {
                key += symbols[random() % symbols.size()];
            }
            map.add(key, std::to_string(i));
            insertions.push_back(key);
            values[key] = std::to_string(i);
        }
        std::vector<std::string> keys, expected, listed;
        for (const std::string& key : e2e::listingOrder(insertions)) {
            expected.push_back(key + "=" + values[key]);
        }
        EXPECT_EQ(map.getAllKeys(&keys), static_cast<int>(expected.size()));
        for (const std::string& key : keys) {
            std::string value = "none";
            EXPECT_TRUE(map.getValueByKey(key, &value));
            listed.push_back(key + "=" + value);
        }
        ASSERT_EQ(listed, expected) << "round " << round;
    }
}
