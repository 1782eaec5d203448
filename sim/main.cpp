#include "Options.h"
#include "Simulator.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    sim::Options options;
    std::string error;
    if (!sim::Options::parse(args, &options, &error)) {
        std::fprintf(stderr, "tursa-sim: %s\nTry 'tursa-sim --help'.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(sim::Options::usage(), stdout);
        return 0;
    }
    return sim::Simulator(options).run();
}
