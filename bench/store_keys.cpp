// Time to load and list a backup file of many keys written in ascending
// and in descending order: the worst shapes of the listing tree.
//   build/store_keys [key count]
#include "store/Property.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string keyName(int index) {
    char name[32];
    snprintf(name, sizeof name, "Key.%08d", index);
    return name;
}

void writeFile(const std::string& path, int count, bool ascending) {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < count; ++i) {
        out << keyName(ascending ? i : count - 1 - i) << "=" << i << "\n";
    }
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void measure(const std::string& path, int count, bool ascending) {
    writeFile(path, count, ascending);
    auto start = std::chrono::steady_clock::now();
    CProperty property(path);
    std::string value;
    property.getProperty(keyName(count / 2), &value); // loads the file
    double load = secondsSince(start);
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        property.keyExists(keyName(i));
    }
    double lookups = secondsSince(start);
    printf("%d keys %s: load %.3f s, %d lookups %.3f s\n", count,
           ascending ? "ascending " : "descending", load, count, lookups);
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? atoi(argv[1]) : 100000;
    char dir[] = "/tmp/tursa-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        return 1;
    }
    const std::string path = std::string(dir) + "/keys.bak";
    measure(path, count, true);
    measure(path, count, false);
    unlink(path.c_str());
    rmdir(dir);
    return 0;
}
