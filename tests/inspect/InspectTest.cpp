// The real tursa-inspect binary against backup files written here in the
// tool's own format (tests/e2e/BackupFile.h), sound and damaged.
#include "e2e/BackupFile.h"
#include "e2e/ToolRun.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using Entries = std::map<std::string, std::string>;

namespace {

const int TEMPLATE_SIZE = 62000;

std::string bytes(size_t count, unsigned seed) {
    std::string block(count, '\0');
    for (char& byte : block) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<char>(seed >> 16);
    }
    return block;
}

e2e::Module module(unsigned seed) {
    return {bytes(TEMPLATE_SIZE, seed), bytes(5, seed + 1), bytes(5, seed + 2)};
}

// A site of interface version 107 with modules 1 and 3, as a complete
// backup writes it; DayLightConfig is empty.
std::string siteText(int master = 192,
                     std::map<int, e2e::Module> modules = {{1, module(10)}, {3, module(30)}}) {
    const std::map<std::string, std::string> sets = {{"UserManagerConfig", bytes(300, 1)},
                                                     {"ConfigManager", bytes(77, 2)},
                                                     {"DayLightConfig", ""},
                                                     {"SystemTimeConfig", bytes(16, 3)}};
    return e2e::expectedBackup(107, sets, master, modules);
}

const Entries& site() {
    static const Entries entries = e2e::parseBackup(siteText());
    return entries;
}

std::string textOf(const Entries& entries) {
    std::string text;
    for (const auto& [key, value] : entries) {
        text += key + "=" + value + "\n";
    }
    return text;
}

class Inspect : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::string& text) {
        EXPECT_TRUE(testsupport::writeFile(dir.file(name), text));
        return dir.file(name);
    }
    e2e::ToolResult run(const std::vector<std::string>& args) {
        std::vector<std::string> argv{TURSA_INSPECT_BIN};
        argv.insert(argv.end(), args.begin(), args.end());
        return e2e::runProgram(argv, {}, dir.file("inspect-" + std::to_string(++runs)), 20000);
    }
    Entries withChange(const std::function<void(Entries&)>& change) {
        Entries entries = site();
        change(entries);
        return entries;
    }
    std::vector<std::string> problemsIn(const std::string& out) {
        std::vector<std::string> problems;
        for (const std::string& line : e2e::splitLines(out)) {
            if (line.rfind("Problem: ", 0) == 0) {
                problems.push_back(line.substr(9));
            }
        }
        return problems;
    }
    // The report as one JSON value, members in the order written.
    nlohmann::ordered_json json(const std::vector<std::string>& args) {
        const auto result = run(args);
        const auto value = nlohmann::ordered_json::parse(result.out, nullptr, false);
        EXPECT_FALSE(value.is_discarded()) << "not one JSON value: " << result.out;
        EXPECT_EQ(value.value("exitStatus", -1), result.status);
        return value;
    }

    testsupport::TempDir dir;
    int runs = 0;
};

} // namespace

TEST_F(Inspect, CompleteFileIsReportedInFullAndPasses) {
    const std::string path = write("site.bak", siteText());
    const auto result = run({path});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              "Backup file: " + path +
                  "\n"
                  "Interface version: 107\n"
                  "Data set UserManagerConfig: 300 bytes\n"
                  "Data set ConfigManager: 77 bytes\n"
                  "Data set DayLightConfig: 0 bytes\n"
                  "Data set SystemTimeConfig: 16 bytes\n"
                  "Master mode: no, every module saved on its own (FPM0.MASTER=192)\n"
                  "Module FPM1: templates 62000 bytes, configuration present, CRC present\n"
                  "Module FPM3: templates 62000 bytes, configuration present, CRC present\n"
                  "Verdict: complete and consistent\n");
}

TEST_F(Inspect, EachDamageIsOneProblemLineAndExit7) {
    struct Case {
        std::function<void(Entries&)> change;
        std::string problem;
    };
    const std::string crcWithoutPadding = site().at("FPM1.CRC").substr(0, 7);
    // clang-format off
    auto setModule1 = [](Entries& e, const char* length, size_t bytesHeld) { e["FPM1.DataLength"] = length; e["FPM1.Data"] = e2e::base64(bytes(bytesHeld, 9)); };
    const std::vector<Case> cases = {
        {[](Entries& e) { e.erase("ConfigManager.DataLength"); }, "ConfigManager.DataLength is missing"},
        {[](Entries& e) { e.erase("Global.Version"); }, "Global.Version is missing"},
        {[](Entries& e) { e["Global.Version"] = "-107"; }, "Global.Version is not a decimal number: '-107'"},
        {[](Entries& e) { e["Global.Version"] = "1 07"; }, "Global.Version is not a decimal number: '1 07'"},
        {[](Entries& e) { e["Global.Version"] = "103"; }, "interface version 103 is older than 104, the oldest a restore accepts"},
        {[](Entries& e) { e["UserManagerConfig.Data"] = e2e::base64(bytes(299, 1)); }, "UserManagerConfig.Data decodes to 299 bytes, but UserManagerConfig.DataLength is 300"},
        {[](Entries& e) { e["DayLightConfig.Data"] = "AQID"; }, "DayLightConfig.Data decodes to 3 bytes, but DayLightConfig.DataLength is 0"},
        {[](Entries& e) { e["ConfigManager.DataLength"] = "268435457"; }, "ConfigManager.DataLength is 268435457, more than the largest data set of 268435456 bytes"},
        {[](Entries& e) { e["FPM3.Data"][100] = '*'; }, "FPM3.Data is not valid Base64"},
        // The tool's decoder would take this; the writer never leaves padding out.
        {[&](Entries& e) { e["FPM1.CRC"] = crcWithoutPadding; }, "FPM1.CRC is not valid Base64"},
        {[](Entries& e) { e.erase("FPM3.CRC"); }, "FPM3.CRC is missing"},
        // A line without a value is skipped, as a restore skips it.
        {[](Entries& e) { e["FPM1.CFG"] = "   "; }, "FPM1.CFG is missing"},
        {[](Entries& e) { e["FPM1.CFG"] = e2e::base64(bytes(4, 9)); }, "FPM1.CFG holds 4 bytes, not 5"},
        {[&](Entries& e) { setModule1(e, "1000", 1000); }, "FPM1 holds 1000 template bytes, not 62000"},
        {[&](Entries& e) { setModule1(e, "70000", 70000); }, "FPM1.DataLength is 70000, more than a template area of 62000 bytes"},
        {[](Entries& e) { e["FPM1.DataLength"] = "62000x"; }, "FPM1.DataLength is not a decimal number: '62000x'"},
        {[](Entries& e) { e.erase("FPM3.DataLength"); }, "FPM3 has keys but no FPM3.DataLength, so a restore skips it"},
        {[](Entries& e) { for (const char* key : {"DataLength", "Data", "CFG", "CRC"}) { e.erase(std::string("FPM1.") + key); e.erase(std::string("FPM3.") + key); } }, "no finger print module in the file"},
    };
    // clang-format on
    for (const Case& damage : cases) {
        const auto result = run({write("damaged.bak", textOf(withChange(damage.change)))});
        EXPECT_EQ(result.status, 7) << damage.problem;
        EXPECT_EQ(problemsIn(result.out), std::vector<std::string>{damage.problem});
        const auto lines = e2e::splitLines(result.out);
        EXPECT_EQ(lines.empty() ? "" : lines.back(),
                  "Verdict: incomplete or inconsistent, 1 problem");
    }
}

TEST_F(Inspect, MasterModeFileAndMastersThatDoNotFitTheModules) {
    const auto master = run({write("master.bak", siteText(195, {{3, module(30)}}))});
    EXPECT_EQ(master.status, 0) << master.out;
    EXPECT_NE(master.out.find("\nMaster mode: yes, made from FPM3 (FPM0.MASTER=195)\n"
                              "Module FPM3: templates 62000 bytes, configuration present, CRC "
                              "present\nVerdict: complete and consistent\n"),
              std::string::npos)
        << master.out;

    const auto wrongModule = run({write("wrong.bak", siteText(195, {{1, module(10)}}))});
    EXPECT_EQ(wrongModule.status, 7);
    EXPECT_EQ(problemsIn(wrongModule.out),
              (std::vector<std::string>{"master-mode file of FPM3, but FPM3 is not in the file",
                                        "master-mode file of FPM3 also holds FPM1"}));

    const auto outOfRange = run({write("range.bak", siteText(201))});
    EXPECT_EQ(outOfRange.status, 7);
    EXPECT_EQ(problemsIn(outOfRange.out),
              std::vector<std::string>{"FPM0.MASTER is 201, not 192 to 200"});
    EXPECT_NE(outOfRange.out.find("Master mode: unknown (FPM0.MASTER=201)"), std::string::npos);
}

TEST_F(Inspect, DiffNamesEveryDifferenceAndIgnoresLineOrder) {
    const std::string a = write("a.bak", siteText());
    // The same entries sorted by key and with blanks around '=' hold the same data.
    std::string reordered;
    for (const auto& [key, value] : site()) {
        reordered += " " + key + " = " + value + "\n";
    }
    const auto same = run({"--diff", a, write("same.bak", reordered)});
    EXPECT_EQ(same.status, 0) << same.out;
    EXPECT_EQ(e2e::splitLines(same.out).back(), "Verdict: the files hold the same data");

    const Entries changed = withChange([](Entries& e) {
        e["Global.Version"] = "108";
        e["ConfigManager.DataLength"] = "80";
        e["ConfigManager.Data"] = e2e::base64(bytes(77, 2) + "xyz");
        std::string templates = e2e::unbase64(e.at("FPM1.Data"));
        for (size_t offset : {1000, 1001, 40000}) {
            templates[offset] = static_cast<char>(~templates[offset]);
        }
        e["FPM1.Data"] = e2e::base64(templates);
        e["FPM1.CRC"] = e2e::base64("\x01\x02\x03\x04\x05");
        for (const char* key : {"DataLength", "Data", "CFG", "CRC"}) {
            e.erase(std::string("FPM3.") + key);
        }
    });
    const std::string b = write("b.bak", textOf(changed));
    const auto differ = run({"--diff", a, b});
    EXPECT_EQ(differ.status, 1);
    EXPECT_EQ(differ.out, "A: " + a + "\nB: " + b +
                              "\n"
                              "Differs: Global.Version: 107 in A, 108 in B\n"
                              "Differs: ConfigManager.Data: 3 bytes differ, first at offset 77; "
                              "77 bytes in A, 80 in B\n"
                              "Differs: FPM1.Data: 3 bytes differ, first at offset 1000\n"
                              "Differs: FPM1.CRC: " +
                              e2e::hexOf(module(10).crc) +
                              " in A, 0102030405 in B\n"
                              "Differs: FPM3: only in A\n"
                              "Verdict: the files differ in 5 items\n");

    const std::string damaged =
        write("damaged.bak", textOf(withChange([](Entries& e) { e["FPM1.Data"] += "!"; })));
    const auto refused = run({"--diff", a, damaged});
    EXPECT_EQ(refused.status, 7);
    EXPECT_EQ(problemsIn(refused.out).size(), 0u);
    EXPECT_NE(refused.out.find("Damaged: B: FPM1.Data is not valid Base64\n"
                               "Verdict: cannot compare, damaged file\n"),
              std::string::npos)
        << refused.out;
}

std::vector<std::string> keysOf(const nlohmann::ordered_json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) {
        keys.push_back(item.key());
    }
    return keys;
}

TEST_F(Inspect, JsonReportsAreOneValidObjectWithTheKeyFields) {
    auto good = json({"--json", write("site.bak", siteText())});
    EXPECT_EQ(keysOf(good), (std::vector<std::string>{"file", "readable", "version", "dataSets",
                                                      "master", "modules", "problems", "complete",
                                                      "verdict", "exitStatus"}));
    EXPECT_EQ(good["version"], 107);
    EXPECT_EQ(good["dataSets"][2], nlohmann::ordered_json::parse(
                                       R"({"name":"DayLightConfig","length":0})"));
    EXPECT_EQ(good["master"]["masterMode"], false);
    EXPECT_EQ(good["modules"][1], nlohmann::ordered_json::parse(
                                      R"({"number":3,"templateBytes":62000,"configuration":true,"crc":true})"));
    EXPECT_TRUE(good["problems"].empty());
    EXPECT_EQ(good["complete"], true);
    EXPECT_EQ(good["verdict"], "complete and consistent");

    // Quotes, backslashes, control and non-UTF-8 bytes in a path stay valid JSON.
    const std::string odd = write("odd \"q\" \\ \t \xff \xc3\xa9.bak",
                                  textOf(withChange([](Entries& e) { e.erase("FPM3.CRC"); })));
    auto damaged = json({odd, "--json"});
    EXPECT_EQ(damaged["file"], dir.file("odd \"q\" \\ \t \xc3\xbf \xc3\xa9.bak"));
    EXPECT_EQ(damaged["complete"], false);
    EXPECT_EQ(damaged["problems"][0], nlohmann::ordered_json::parse(
                                          R"({"text":"FPM3.CRC is missing","damage":false})"));
    EXPECT_EQ(damaged["modules"][1]["crc"], false);

    const std::string b =
        write("b.bak", textOf(withChange([](Entries& e) { e["Global.Version"] = "106"; })));
    auto diff = json({"--json", "--diff", dir.file("site.bak"), b});
    EXPECT_EQ(keysOf(diff), (std::vector<std::string>{"a", "b", "readable", "comparable", "damage",
                                                      "same", "differences", "verdict", "exitStatus"}));
    EXPECT_EQ(diff["same"], false);
    ASSERT_EQ(diff["differences"].size(), 1u);
    EXPECT_EQ(diff["differences"][0]["item"], "Global.Version");
    EXPECT_TRUE(diff["differences"][0]["firstOffset"].is_null());

    auto unreadable = json({"--json", "--diff", b, dir.file("none.bak")});
    EXPECT_EQ(unreadable["readable"], false);
    EXPECT_EQ(unreadable["error"], "cannot read " + dir.file("none.bak"));
}

TEST_F(Inspect, UnreadableFilesGive19AndWrongUsage255) {
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    for (const std::string& path : {dir.file("none.bak"), dir.path(), dir.file("fifo")}) {
        const auto result = run({path});
        EXPECT_EQ(result.status, 19) << path;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "tursa-inspect: cannot read " + path + "\n");
    }
    const std::string good = write("site.bak", siteText());
    const auto diff = run({"--diff", good, dir.path()});
    EXPECT_EQ(diff.status, 19);
    EXPECT_EQ(diff.err, "tursa-inspect: cannot read " + dir.path() + "\n");
    if (geteuid() != 0) { // root reads files whatever their mode
        chmod(good.c_str(), 0);
        EXPECT_EQ(run({good}).status, 19);
        chmod(good.c_str(), 0600);
    }

    const auto help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: tursa-inspect [--json] FILE\n", 0), 0u) << help.out;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {good, good}, {"--diff", good}, {"--diff", good, good, good}, {"-x", good}}) {
        const auto wrong = run(args);
        EXPECT_EQ(wrong.status, 255) << args.size();
        EXPECT_EQ(wrong.out, "");
        EXPECT_NE(wrong.err.find(help.out), std::string::npos) << wrong.err;
    }
}
