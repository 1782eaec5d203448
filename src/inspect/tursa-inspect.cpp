// tursa-inspect: checks a backup file of TursaBackupCmd before the hardware
// goes away, or compares two backup files.
#include "base/ExitCode.h"
#include "base/Logger.h"
#include "backup/BackupContent.h"
#include "inspect/DiffReport.h"
#include "inspect/InspectionReport.h"
#include "backup/Inspector.h"
#include "store/FileManager.h"

#include <iostream>
#include <new>
#include <string>
#include <vector>

namespace {

const char* const USAGE =
    "Usage: tursa-inspect [--json] FILE\n"
    "       tursa-inspect [--json] --diff FILE_A FILE_B\n"
    "       tursa-inspect --help\n"
    "\n"
    "Checks a TursaBackupCmd backup file: interface version, data sets, modules,\n"
    "master mode, and whether a full restore finds all it needs. With --diff,\n"
    "tells what differs between two backup files.\n"
    "\n"
    "   --diff      compare FILE_A with FILE_B.\n"
    "   --json      print the report as one JSON object.\n"
    "   -h, --help  display this help and exit.\n"
    "   --          end of options; what follows are file names.\n"
    "\n"
    "Exit status: 0 complete and consistent (--diff: the same data), 1 the files\n"
    "differ (--diff), 7 damaged or incomplete (--diff: a file is damaged),\n"
    "19 a file cannot be read, 255 wrong usage.\n";

struct Options {
    bool help = false;
    bool json = false;
    bool diff = false;
    std::vector<std::string> files;
};

// False, with the reason on the error stream, when the command line is wrong.
bool parse(int argc, char** argv, Options* options) {
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (onlyFiles || argument.size() < 2 || argument[0] != '-') {
            options->files.push_back(argument);
        } else if (argument == "--") {
            onlyFiles = true;
        } else if (argument == "-h" || argument == "--help") {
            options->help = true;
        } else if (argument == "--json") {
            options->json = true;
        } else if (argument == "--diff") {
            options->diff = true;
        } else {
            std::cerr << "tursa-inspect: unknown option " << argument << "\n";
            return false;
        }
    }
    const size_t wanted = options->diff ? 2 : 1;
    if (!options->help && options->files.size() != wanted) {
        std::cerr << "tursa-inspect: "
                  << (options->diff ? "--diff takes two files" : "one file wanted") << ", "
                  << options->files.size() << " given\n";
        return false;
    }
    return true;
}

void complainUnreadable(const std::string& path) {
    std::cerr << "tursa-inspect: cannot read " << path << "\n";
}

int inspect(const std::string& path, bool json) {
    CBackupContent content;
    if (!content.load(path)) {
        complainUnreadable(path);
        if (json) {
            CInspectionReport::writeUnreadableJson(std::cout, path);
        }
        return EXIT_BACKUP_FILE_UNUSABLE;
    }
    CInspector inspector(content);
    CInspectionReport report(content, inspector);
    if (json) {
        report.writeJson(std::cout);
    } else {
        report.writeText(std::cout);
    }
    return report.exitStatus();
}

int diff(const std::string& pathA, const std::string& pathB, bool json) {
    CBackupContent a;
    CBackupContent b;
    const std::string* unreadable = !a.load(pathA) ? &pathA : !b.load(pathB) ? &pathB : nullptr;
    if (unreadable != nullptr) {
        complainUnreadable(*unreadable);
        if (json) {
            CDiffReport::writeUnreadableJson(std::cout, pathA, pathB, *unreadable);
        }
        return EXIT_BACKUP_FILE_UNUSABLE;
    }
    CDiffReport report(a, b);
    if (json) {
        report.writeJson(std::cout);
    } else {
        report.writeText(std::cout);
    }
    return report.exitStatus();
}

int run(const Options& options) {
    try {
        return options.diff ? diff(options.files[0], options.files[1], options.json)
                            : inspect(options.files[0], options.json);
    } catch (const std::bad_alloc&) {
        std::cerr << "tursa-inspect: out of memory reading the file\n";
        return EXIT_BACKUP_FILE_UNUSABLE;
    }
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, &options)) {
        std::cerr << USAGE;
        return EXIT_COMMAND_LINE_REJECTED;
    }
    if (options.help) {
        std::cout << USAGE;
        return EXIT_OK;
    }
    // The store's own message about an unreadable file would repeat ours.
    CLogger::getInstance()->setLevel(0);
    const int status = run(options);
    CFileManager::Destroy();
    CLogger::Destroy();
    return status;
}
