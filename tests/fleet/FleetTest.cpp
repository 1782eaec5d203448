// tursa-fleet over a fleet of simulators under compressed time, and over a
// stand-in tool script for what no simulator can play (a tool that hangs,
// signals, the inventory, shards): report, JSON, state, metrics, store.
#include "e2e/ToolRun.h"
#include "support/Loopback.h"
#include "support/Process.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

using FleetResult = e2e::ToolResult;

std::vector<std::string> fleetEnv(std::vector<std::string> extra = {}) {
    std::vector<std::string> env = e2e::compressedTime();
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

void start(testsupport::Process& process, const std::string& outStem, std::vector<std::string> args,
           std::vector<std::string> env = fleetEnv()) {
    args.insert(args.begin(), TURSA_FLEET_BIN);
    ASSERT_TRUE(process.start(args, env, outStem + ".out", outStem + ".err"));
}

FleetResult fleet(const std::string& outStem, std::vector<std::string> args,
                  const std::vector<std::string>& env = fleetEnv()) {
    args.insert(args.begin(), TURSA_FLEET_BIN);
    return e2e::runProgram(args, env, outStem);
}

// The report's lines without the duration, which hangs on the machine's load.
std::vector<std::string> reportLines(const std::string& out) {
    std::vector<std::string> lines;
    for (std::string line : e2e::splitLines(out)) {
        const size_t cut = line.rfind("  ");
        if (cut != std::string::npos && line.size() > cut + 4 && line.compare(line.size() - 2, 2, " s") == 0 &&
            line.find_first_not_of("0123456789", cut + 2) == line.size() - 2) {
            line.erase(cut);
        }
        lines.push_back(line);
    }
    return lines;
}

std::set<std::string> namesIn(const std::string& path) {
    const auto names = testsupport::namesIn(path);
    return {names.begin(), names.end()};
}

unsigned modeOf(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

std::string linkOf(const std::string& path) {
    char target[256] = {};
    return readlink(path.c_str(), target, sizeof(target) - 1) > 0 ? target : "";
}

bool waitForFile(const std::string& path) {
    return testsupport::waitUntil([&] { return access(path.c_str(), F_OK) == 0; });
}

nlohmann::json jsonOf(const std::string& path) {
    return nlohmann::json::parse(readFile(path), nullptr, false);
}

} // namespace

// Three nights of four controllers: one good, one whose module falls silent
// on the first attempt only, one with a wrong password, one that answers
// nothing; the good one's data changes twice. Then status, verify, and a
// restore of latest into a blank simulator.
TEST(FleetRun, NightsOfAFleetWithRetriesChangesRetentionAndRestore) {
    testsupport::TempDir dir;
    std::vector<std::string> address;
    for (unsigned i = 0; i < 4; ++i) {
        address.push_back(testsupport::reserveLoopbackAddress(i));
        ASSERT_FALSE(address.back().empty()) << "no free loopback address";
    }
    testsupport::SimProcess lobby, flaky, guarded;
    ASSERT_TRUE(lobby.start(address[0], {"--fpms", "1"}, dir.file("lobby-1")));
    ASSERT_TRUE(flaky.start(address[1], {"--fpms", "1", "--bus-fault", "noreply:3:10:6"}, dir.file("flaky")));
    ASSERT_TRUE(guarded.start(address[2], {"--fpms", "1", "--password", "other"}, dir.file("guarded")));
    writeFile(dir.file("pw"), "service\n");
    const std::string inventory = dir.file("inventory"), store = dir.file("store"), pw = dir.file("pw");
    writeFile(inventory, "# nightly\nlobby address=" + address[0] + " password_file=" + pw +
                             "\nflaky address=" + address[1] + " password_env=FLEET_PW\n\nguarded address=" +
                             address[2] + " password_file=" + pw + "\nghost address=" + address[3] +
                             " password_file=" + pw + "  # unplugged\n");
    const auto env = fleetEnv({"FLEET_PW=service"});
    mkdir(dir.file("hooks").c_str(), 0700);
    testsupport::Process first;
    start(first, dir.file("night-1"),
          {"run", inventory, "--store", store, "--retries", "1", "--retry-pause", "20", "--keep", "2",
           "--json", dir.file("report.json"), "--metrics", dir.file("fleet.prom"), "--on-failure",
           "env | grep ^TURSA_ | sort > " + dir.file("hooks") + "/$TURSA_CONTROLLER"},
          env);
    for (int i = 0; i < 3000 && readFile(store + "/.lock") != std::to_string(first.pid()) + "\n"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const FleetResult locked = fleet(dir.file("locked"), {"run", inventory, "--store", store}, env);
    EXPECT_EQ(locked.status, 3);
    EXPECT_NE(locked.err.find("in use by another run (pid " + std::to_string(first.pid()) + ")"), std::string::npos);
    ASSERT_EQ(first.waitExit(120000), 1);
    EXPECT_EQ(reportLines(readFile(dir.file("night-1.out"))),
              (std::vector<std::string>{"guarded  failed  status 3: Wrong password.  1 attempt",
                                        "ghost  failed  status 1: Could not open network connection.  2 attempts",
                                        "lobby  ok  1 attempt", "flaky  ok  2 attempts", "2 ok, 0 unchanged, 2 failed"}));
    const nlohmann::json report = jsonOf(dir.file("report.json"));
    const std::string stamp1 = linkOf(store + "/lobby/latest").substr(0, 16);
    ASSERT_EQ(report["controllers"].size(), 4u);
    EXPECT_EQ(report["controllers"][1]["attempts"], 2);
    EXPECT_EQ(report["controllers"][1]["backup"], store + "/flaky/" + stamp1 + ".bak");
    EXPECT_EQ(report["controllers"][2]["exit_status"], 3);
    EXPECT_TRUE(report["controllers"][2]["backup"].is_null());
    std::string started = report["started"];
    started.erase(std::remove_if(started.begin(), started.end(), [](char c) { return c == '-' || c == ':'; }),
                  started.end());
    EXPECT_EQ(started, stamp1) << "backups are named by the run's start";
    EXPECT_NE(readFile(store + "/flaky/logs/" + stamp1 + ".log").find("Network unreachable."), std::string::npos);
    const nlohmann::json guardedState = jsonOf(store + "/guarded/state.json");
    EXPECT_EQ(guardedState["last_result"], "failed");
    EXPECT_EQ(guardedState["last_status"], 3);
    EXPECT_TRUE(guardedState["last_success"].is_null());
    // The success of the second attempt, after the retry pause.
    EXPECT_GT(jsonOf(store + "/flaky/state.json")["last_success"].get<std::string>(), report["started"].get<std::string>());
    const std::string metrics = readFile(dir.file("fleet.prom"));
    const std::string lobbySize = std::to_string(readFile(store + "/lobby/" + stamp1 + ".bak").size());
    for (const std::string& sample : std::vector<std::string>{
             "tursa_backup_last_exit_status{controller=\"guarded\"} 3\n",
          "tursa_backup_consecutive_failures{controller=\"ghost\"} 1\n",
          "tursa_backup_last_success_timestamp_seconds{controller=\"ghost\"} 0\n",
          "tursa_backup_size_bytes{controller=\"lobby\"} " + lobbySize + "\n", "tursa_fleet_run_finished_timestamp_seconds 1"}) {
        EXPECT_NE(metrics.find(sample), std::string::npos) << sample;
    }
    // The store: folders 0700, files 0600, a checksum in sha256sum's format.
    EXPECT_EQ(namesIn(store + "/lobby"), (std::set<std::string>{stamp1 + ".bak", stamp1 + ".bak.sha256", "latest",
                                                                "logs", "state.json"}));
    EXPECT_EQ(modeOf(store), 0700u);
    for (const std::string& name : {std::string(), stamp1 + ".bak", stamp1 + ".bak.sha256", std::string("logs"),
                                    std::string("state.json"), "logs/" + stamp1 + ".log"}) {
        EXPECT_EQ(modeOf(store + "/lobby/" + name), name.find('.') == std::string::npos ? 0700u : 0600u) << name;
    }
    EXPECT_EQ(e2e::shellOutput("cd " + store + "/lobby && sha256sum -c " + stamp1 + ".bak.sha256"), stamp1 + ".bak: OK\n");
    EXPECT_EQ(readFile(dir.file("hooks/guarded")),
              "TURSA_ADDRESS=" + address[2] + "\nTURSA_CONTROLLER=guarded\nTURSA_EXIT_STATUS=3\nTURSA_LOG=" + store +
                  "/guarded/logs/" + stamp1 + ".log\nTURSA_MESSAGE=Wrong password.\n");
    EXPECT_EQ(namesIn(dir.file("hooks")), (std::set<std::string>{"ghost", "guarded"}));

    // The next two nights the lobby's module gets another configuration.
    std::vector<std::string> nights;
    for (const std::string config : {"0102030405", "0a0b0c0d0e"}) {
        lobby.stop();
        ASSERT_TRUE(lobby.start(address[0], {"--fpms", "1", "--fpm-config", "1:" + config},
                                dir.file("lobby-" + config)));
        const FleetResult night = fleet(dir.file("night-" + config), {"run", inventory, "--store", store, "--keep", "2", "--retries", "0"}, env);
        EXPECT_EQ(night.status, 1);
        nights.push_back(linkOf(store + "/lobby/latest").substr(0, 16));
        EXPECT_EQ(reportLines(night.out), (std::vector<std::string>{
                      "guarded  failed  status 3: Wrong password.  1 attempt",
                      "ghost  failed  status 1: Could not open network connection.  1 attempt",
                      "lobby  changed: FPM 1 configuration; FPM 1 CRC  1 attempt", "flaky  unchanged  1 attempt",
                      "1 ok, 1 unchanged, 2 failed"}));
    }
    // Retention: the two newest lobby backups and the logs since the older;
    // flaky's one backup with all logs since; guarded's newest two logs.
    EXPECT_EQ(namesIn(store + "/lobby"), (std::set<std::string>{nights[0] + ".bak", nights[0] + ".bak.sha256",
                                                                nights[1] + ".bak", nights[1] + ".bak.sha256",
                                                                "latest", "logs", "state.json"}));
    EXPECT_EQ(linkOf(store + "/lobby/latest"), nights[1] + ".bak");
    EXPECT_EQ(namesIn(store + "/lobby/logs"), (std::set<std::string>{nights[0] + ".log", nights[1] + ".log"}));
    EXPECT_EQ(namesIn(store + "/flaky/logs").size(), 3u);
    EXPECT_EQ(namesIn(store + "/guarded/logs"), (std::set<std::string>{nights[0] + ".log", nights[1] + ".log"}));
    EXPECT_EQ(jsonOf(store + "/guarded/state.json")["consecutive_failures"], 3);
    EXPECT_EQ(jsonOf(store + "/lobby/state.json")["last_message"], "changed: FPM 1 configuration; FPM 1 CRC");

    const FleetResult status = fleet(dir.file("status"), {"status", "--store", store, "--older-than", "26h"});
    EXPECT_EQ(status.status, 1);
    EXPECT_NE(status.out.find("guarded  last success: never  last result: failed (status 3: Wrong password.)  "
                              "consecutive failures: 3  TOO OLD\n"), std::string::npos) << status.out;
    EXPECT_EQ(fleet(dir.file("verify"), {"verify", "--store", store}).out, "3 backups checked, 0 damaged\n");
    const std::string flakyBackup = store + "/flaky/" + stamp1 + ".bak";
    std::string rotten = readFile(flakyBackup);
    rotten[rotten.size() / 2] ^= 1;
    writeFile(flakyBackup, rotten);
    const FleetResult verify = fleet(dir.file("verify-2"), {"verify", "--store", store});
    EXPECT_EQ(verify.status, 1);
    EXPECT_EQ(verify.out, flakyBackup + ": does not match its checksum\n3 backups checked, 1 damaged\n");

    // Only the module of latest comes back: the blank site keeps its data sets.
    const std::string templates = lobby.fpmTemplates(1);
    lobby.stop();
    ASSERT_TRUE(lobby.start(address[0], {"--fpms", "1", "--blank-fpms", "--seed", "9"}, dir.file("blank")));
    const std::string blankSet = lobby.dataSet("ConfigManager");
    const FleetResult restore = fleet(dir.file("restore"), {"restore", inventory, "lobby", "--store", store, "--", "--fpm-only"}, env);
    EXPECT_EQ(restore.status, 0) << restore.err;
    EXPECT_EQ(lobby.fpmTemplates(1), templates);
    EXPECT_EQ(lobby.fpmConfig(1), std::string("\x0a\x0b\x0c\x0d\x0e"));
    EXPECT_EQ(lobby.dataSet("ConfigManager"), blankSet);

    // Without the two that never succeeded the store is fresh, until 2 days on.
    e2e::shellOutput("rm -r " + store + "/guarded " + store + "/ghost");
    EXPECT_EQ(fleet(dir.file("fresh"), {"status", "--store", store, "--older-than", "26h"}).status, 0);
    EXPECT_EQ(fleet(dir.file("stale"), {"status", "--store", store, "--older-than", "26h"},
                    {"LD_PRELOAD=" TURSA_FAKETIME_LIB, "FAKETIME=+2d", "ASAN_OPTIONS=verify_asan_link_order=0"}).status, 1);
}

namespace {

// Stands in for the tool: notes how it was called (its arguments last), then
// plays the controller its address names: .250 hangs and ignores SIGTERM,
// .251 hangs until SIGTERM, any other fails at once with 1.
const char* const STAND_IN = R"(#!/bin/sh
d="$CALLS/$3"; mkdir -p "$d"; env > "$d/env"; cat "$TURSA_PASSWORD_FILE" > "$d/password"
case "$3" in
127.0.0.250) trap '' TERM ;;
127.0.0.251) trap 'touch "$d/term"; exit 143' TERM ;;
*) printf '%s\n' "$@" > "$d/args"; exit 1 ;;
esac
printf '%s\n' "$@" > "$d/args"; while :; do sleep 1; done
)";

// The documented shard hash: FNV-1a, 32 bits.
uint32_t fnv1a(const std::string& name) {
    uint32_t hash = 2166136261u;
    for (unsigned char byte : name) {
        hash = (hash ^ byte) * 16777619u;
    }
    return hash;
}

} // namespace

TEST(FleetRun, InventoryShardsTimeoutsSignalsAndLinks) {
    testsupport::TempDir dir;
    const std::string tool = dir.file("tool"), inventory = dir.file("inventory"), pw = dir.file("pw");
    writeFile(tool, STAND_IN);
    chmod(tool.c_str(), 0755);
    writeFile(pw, "service\n");
    const auto env = fleetEnv({"CALLS=" + dir.file("calls"), "FLEET_PW=secret"});
    const std::vector<std::pair<std::string, std::string>> badLines = {
        {"bad/name address=127.0.0.1 password_file=" + pw, "name \"bad/name\" is not 1 to 64 of A-Z a-z 0-9 . _ -"},
        {"b address=127.0.0.1 password_file=" + pw + " colour=red", "unknown key \"colour\""},
        {"a address=127.0.0.1 password_file=" + pw, "duplicate name \"a\" (first on line 1)"},
        {"c address=1.2.3 password_file=" + pw, "address \"1.2.3\" is not a dotted IPv4 address"},
        {"d password_file=" + pw, "address missing"},
        {"e address=127.0.0.1", "neither password_file nor password_env given"},
        {"f address=127.0.0.1 password_file=" + pw + " password_env=HOME", "both password_file and password_env given"},
        {"g address=127.0.0.1 password_file=" + dir.file("none"), "password file \"" + dir.file("none") + "\" cannot be read"},
        {"h address=127.0.0.1 password_env=FLEET_UNSET", "environment variable \"FLEET_UNSET\" is not set"},
        {"i address=127.0.0.1 password_file=" + pw + " master=9", "master \"9\" is not 1 to 8"},
        {"j address=127.0.0.1 password_file", "\"password_file\" is not key=value"}};
    std::string text = "a address=127.0.0.1 password_file=" + pw + "\n# comment\n\n", expected;
    for (size_t i = 0; i < badLines.size(); ++i) {
        text += badLines[i].first + "\n";
        expected += inventory + ":" + std::to_string(4 + i) + ": " + badLines[i].second + "\n";
    }
    writeFile(inventory, text);
    const FleetResult refused = fleet(dir.file("refused"), {"run", inventory, "--store", dir.file("s1"), "--tool", tool}, env);
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, expected);
    EXPECT_FALSE(e2e::exists(dir.file("s1"))) << "nothing runs";

    // Shards: disjoint, together all, each name where its hash puts it.
    text.clear();
    for (int i = 0; i < 30; ++i) {
        text += "n" + std::to_string(i) + " address=127.0.0.1 password_file=" + pw + "\n";
    }
    writeFile(inventory, text);
    std::set<std::string> seen;
    for (unsigned shard = 0; shard < 3; ++shard) {
        const FleetResult run = fleet(dir.file("shard"), {"run", inventory, "--store", dir.file("s1"), "--tool", tool,
                                                  "--retries", "0", "--shard", std::to_string(shard) + "/3"}, env);
        const auto lines = e2e::splitLines(run.out);
        for (size_t i = 0; i + 1 < lines.size(); ++i) {
            const std::string name = lines[i].substr(0, lines[i].find(' '));
            EXPECT_EQ(fnv1a(name) % 3, shard) << name;
            EXPECT_TRUE(seen.insert(name).second) << name << " in two shards";
        }
    }
    EXPECT_EQ(seen.size(), 30u);
    const FleetResult never = fleet(dir.file("never"), {"status", "--store", dir.file("s1"), "--older-than", "90m"});
    EXPECT_EQ(never.status, 1);
    const auto neverLines = e2e::splitLines(never.out);
    EXPECT_EQ(neverLines.size(), 30u);
    for (const std::string& line : neverLines) {
        EXPECT_EQ(line.substr(line.find(' ')), "  last success: never  last result: failed (status 1: Could not open "
                                               "network connection.)  consecutive failures: 1  TOO OLD");
    }

    // A hanging tool, SIGKILLed 60 s after SIGTERM; folder and latest links.
    const std::string store = dir.file("s2");
    mkdir(store.c_str(), 0700);
    mkdir(dir.file("elsewhere").c_str(), 0700);
    symlink(dir.file("elsewhere").c_str(), (store + "/linked").c_str());
    mkdir((store + "/pointy").c_str(), 0700);
    symlink("/etc/passwd", (store + "/pointy/latest").c_str());
    writeFile(inventory, "hang address=127.0.0.250 password_env=FLEET_PW master=2\nlinked address=127.0.0.2 "
                         "password_file=" + pw + "\npointy address=127.0.0.3 password_file=" + pw + "\n");
    const FleetResult hang = fleet(dir.file("hang"), {"run", inventory, "--store", store, "--tool", tool, "--timeout", "20",
                                               "--retries", "1", "--retry-pause", "20"}, env);
    EXPECT_EQ(reportLines(hang.out),
              (std::vector<std::string>{"hang  failed  status 137: timed out after 20 s  2 attempts",
                                        "linked  failed  status 19: " + store + "/linked is a link or not a folder: "
                                        "refused, nothing is written through a link in the store  1 attempt",
                                        "pointy  failed  status 19: " + store + "/pointy/latest points elsewhere "
                                        "(/etc/passwd): refused  1 attempt", "0 ok, 0 unchanged, 3 failed"}));
    EXPECT_TRUE(namesIn(dir.file("elsewhere")).empty());
    const std::string called = dir.file("calls/127.0.0.250");
    EXPECT_EQ(readFile(called + "/password"), "secret\n");
    EXPECT_NE(readFile(called + "/env").find("TURSA_PASSWORD_FILE=/dev/stdin\n"), std::string::npos);
    EXPECT_EQ(readFile(called + "/args").find("secret"), std::string::npos);
    EXPECT_NE(readFile(called + "/args").find("\n-m\n2\n"), std::string::npos);

    // SIGTERM: the running tool gets SIGTERM, the finished controller is
    // reported and stored, the unfinished one neither.
    writeFile(inventory, "slow address=127.0.0.251 password_file=" + pw + "\nquick address=127.0.0.4 password_file=" + pw + "\n");
    const std::string slow = dir.file("calls/127.0.0.251");
    testsupport::Process run;
    start(run, dir.file("term"), {"run", inventory, "--store", store, "--tool", tool, "--retries", "0"}, env);
    ASSERT_TRUE(waitForFile(slow + "/args") && waitForFile(store + "/quick/state.json"));
    kill(run.pid(), SIGTERM);
    EXPECT_EQ(run.waitExit(30000), 143);
    EXPECT_EQ(reportLines(readFile(dir.file("term.out"))),
              (std::vector<std::string>{"quick  failed  status 1: Could not open network connection.  1 attempt",
                                        "0 ok, 0 unchanged, 1 failed", "interrupted by signal 15: 1 controllers not finished"}));
    EXPECT_TRUE(e2e::exists(slow + "/term"));
    EXPECT_FALSE(e2e::exists(store + "/slow/state.json"));

    // SIGKILL: the tool still gets SIGTERM; the next run takes the lock,
    // removes what was left half done and writes a whole state.
    e2e::shellOutput("rm -r " + slow);
    start(run, dir.file("kill"), {"run", inventory, "--store", store, "--tool", tool, "--retries", "0"}, env);
    ASSERT_TRUE(waitForFile(slow + "/args"));
    kill(run.pid(), SIGKILL);
    EXPECT_TRUE(waitForFile(slow + "/term"));
    writeFile(store + "/slow/.pending-20200101T000000Z.bak", "Global.Version=107\n");
    const FleetResult next = fleet(dir.file("next"), {"run", inventory, "--store", store, "--tool", tool, "--retries", "0", "--timeout", "5"}, env);
    EXPECT_EQ(next.status, 1) << next.err;
    EXPECT_EQ(namesIn(store + "/slow"), (std::set<std::string>{"logs", "state.json"}));
    EXPECT_EQ(jsonOf(store + "/slow/state.json")["last_message"], "timed out after 5 s");
}
