#!/usr/bin/env bash
# A small mutation tester: how many one-line faults in the tool's core does
# the test suite catch?
#   scripts/mutate.sh [--seed N] [--count N] [--jobs N] [--list]
# Draws a fixed, seeded sample of one-line mutants from the .cpp files of
# src/bus, src/controller, src/store, src/backup and src/net (comparison and
# arithmetic operators swapped, integer constants moved by one, conditions
# negated, && and || swapped, expression statements deleted), builds each in
# build-mutate/ and runs the tests that can see it, stopping at the first
# failure. A mutant that does not compile is skipped and another is drawn.
# Prints every mutant's fate, killed / survived / score and each survivor's
# diff, also into build-mutate/mutate-report.txt. Not part of CI.
#
# Which tests can see a mutant: build-mutate-cov/ is a --coverage build in
# which every ctest test runs once with its own GCOV_PREFIX; the tool, the
# inspector and the simulator that a test starts inherit it, so their
# coverage lands in that test's folder too. A test that never executed the
# mutated line runs exactly as it would on the sound tree, so it is left
# out. A line that gcov does not count but that lies inside a function
# (a continued statement, a local constant) runs the tests that entered that
# function; any other line (a namespace-scope constant) runs every test. A
# test that fails in the coverage run (its tool could not write its coverage)
# runs for every mutant. The map is cached in build-mutate-cov/, keyed by the
# trees of src/, tests/ and sim/.
#
# The whole script is one block, read before it runs, so that a checkout
# during a run cannot change what bash reads next.
{
set -euo pipefail
cd "$(dirname "$0")/.."

# Other people build on the same two cores.
if [ -z "${TURSA_MUTATE_NICED:-}" ]; then
    TURSA_MUTATE_NICED=1 exec nice -n 10 bash "$0" "$@"
fi

mutated_dirs=(src/bus src/controller src/store src/backup src/net)
if [ -n "$(git status --porcelain -- src tests sim)" ]; then
    echo "mutate.sh: src/, tests/ or sim/ has uncommitted changes; run it on a clean checkout" >&2
    exit 2
fi
bash scripts/install-deps.sh

# Whatever ends the run, no mutated source stays behind.
restore_sources() {
    git diff --quiet -- src || git checkout -- "${mutated_dirs[@]}"
}
trap restore_sources EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

status=0
python3 - "$@" <<'PYTHON' || status=$?
import argparse, difflib, hashlib, json, os, random, re, shutil, signal
import subprocess, sys, time
from concurrent.futures import ThreadPoolExecutor

ROOT = os.getcwd()
BUILD = os.path.join(ROOT, "build-mutate")
COV = os.path.join(ROOT, "build-mutate-cov")
DIRS = ["src/bus", "src/controller", "src/store", "src/backup", "src/net"]
TARGETS = ["TursaBackupCmd", "tursa-inspect", "tursa-sim", "tursa_tests"]
CPU_JOBS = "2"

parser = argparse.ArgumentParser(prog="scripts/mutate.sh")
parser.add_argument("--seed", type=int, default=14)
parser.add_argument("--count", type=int, default=80)
parser.add_argument("--jobs", type=int, default=16,
                    help="tests run at once (they mostly wait on sockets)")
parser.add_argument("--list", action="store_true",
                    help="only print the candidates in the order they are drawn")
args = parser.parse_args()

started = time.time()
report_lines = []


def write_report():
    with open(os.path.join(BUILD, "mutate-report.txt"), "w") as f:
        f.write("\n".join(report_lines) + "\n")


def say(text=""):
    print(text, flush=True)
    report_lines.append(text)


def run(command, **kwargs):
    return subprocess.run(command, check=True, **kwargs)


def configure_and_build(build_dir, flags):
    run(["cmake", "-S", ROOT, "-B", build_dir, "-DTURSA_BENCHMARKS=OFF"] + flags,
        stdout=subprocess.DEVNULL)
    run(["cmake", "--build", build_dir, "-j", CPU_JOBS, "--target"] + TARGETS,
        stdout=subprocess.DEVNULL)


def ctest_tests(build_dir):
    listing = json.loads(subprocess.run(["ctest", "--show-only=json-v1"], cwd=build_dir,
                                        check=True, capture_output=True, text=True).stdout)
    tests = {}
    for test in listing["tests"]:
        props = {p["name"]: p["value"] for p in test.get("properties", [])}
        if props.get("DISABLED"):
            continue
        tests[test["name"]] = {"command": test["command"],
                               "cwd": props.get("WORKING_DIRECTORY", build_dir),
                               "env": props.get("ENVIRONMENT", []),
                               "timeout": float(props.get("TIMEOUT", 1500))}
    return tests


running_groups = set()


def start_test(test, extra_env):
    """Starts a test in a process group of its own, so that it can be ended
    with every tool and simulator it started."""
    proc = subprocess.Popen(test["command"], cwd=test["cwd"], env=test_env(test, extra_env),
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)
    running_groups.add(proc.pid)
    return proc


def kill_group(pid):
    try:
        os.killpg(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def test_env(test, extra):
    env = dict(os.environ)
    for entry in test["env"]:
        key, _, value = entry.partition("=")
        env[key] = value
    env.update(extra)
    return env


# ---------------------------------------------------------------- coverage

def tree_key():
    trees = subprocess.run(["git", "rev-parse", "HEAD:src", "HEAD:tests", "HEAD:sim"],
                           check=True, capture_output=True, text=True).stdout
    return hashlib.sha1(trees.encode()).hexdigest()[:16]


def lines_of_test(prefix):
    """The mutated folders' lines and functions that one test's processes ran."""
    executed, entered, executable, functions = {}, {}, {}, {}
    gcdas = []
    for folder in DIRS:
        obj_dir = os.path.join(COV, "CMakeFiles", "tursa_" + os.path.basename(folder) + ".dir",
                               folder)
        moved = prefix + obj_dir
        if not os.path.isdir(moved):
            continue
        for name in sorted(os.listdir(moved)):
            if name.endswith(".gcda"):
                gcno = os.path.join(obj_dir, name[:-5] + ".gcno")
                os.symlink(gcno, os.path.join(moved, name[:-5] + ".gcno"))
                gcdas.append(os.path.join(moved, name))
    if not gcdas:
        return executed, entered, executable, functions
    out = subprocess.run(["gcov", "--json-format", "--stdout"] + gcdas, cwd=prefix,
                         check=True, capture_output=True, text=True).stdout
    for document in out.splitlines():
        for entry in json.loads(document)["files"]:
            path = os.path.relpath(entry["file"], ROOT) if os.path.isabs(entry["file"]) \
                else entry["file"]
            if not any(path.startswith(d + "/") for d in DIRS):
                continue
            executable.setdefault(path, set()).update(l["line_number"] for l in entry["lines"])
            executed.setdefault(path, set()).update(
                l["line_number"] for l in entry["lines"] if l["count"] > 0)
            for f in entry["functions"]:
                span = (f["start_line"], f["end_line"])
                functions.setdefault(path, set()).add(span)
                if f["execution_count"] > 0:
                    entered.setdefault(path, set()).add(span)
    return executed, entered, executable, functions


def coverage_map():
    key = tree_key()
    cache = os.path.join(COV, "coverage-" + key + ".json")
    if os.path.exists(cache):
        say("coverage map: cached (" + os.path.relpath(cache, ROOT) + ")")
        with open(cache) as f:
            return json.load(f)
    say("coverage map: building build-mutate-cov/ and running every test once")
    began = time.time()
    configure_and_build(COV, ["-DCMAKE_BUILD_TYPE=Debug", "-DCMAKE_CXX_FLAGS_DEBUG=-O0 -DNDEBUG",
                              "-DCMAKE_CXX_FLAGS=--coverage",
                              "-DCMAKE_EXE_LINKER_FLAGS=--coverage"])
    tests = ctest_tests(COV)
    prefixes = os.path.join(COV, "gcov-prefix")
    shutil.rmtree(prefixes, ignore_errors=True)
    names = sorted(tests)

    def one(index):
        name = names[index]
        prefix = os.path.join(prefixes, str(index))
        os.makedirs(prefix)
        test = tests[name]
        t0 = time.time()
        proc = start_test(test, {"GCOV_PREFIX": prefix})
        try:
            passed = proc.wait(timeout=test["timeout"]) == 0
        except subprocess.TimeoutExpired:
            passed = False
        finally:
            kill_group(proc.pid)
            proc.wait()
            running_groups.discard(proc.pid)
        seconds = time.time() - t0
        result = lines_of_test(prefix)
        shutil.rmtree(prefix)
        return name, passed, seconds, result

    per_test, executable, functions = {}, {}, {}
    with ThreadPoolExecutor(args.jobs) as pool:
        for done, (name, passed, seconds, result) in enumerate(pool.map(one, range(len(names))), 1):
            executed, entered, lines, spans = result
            for path, found in lines.items():
                executable.setdefault(path, set()).update(found)
            for path, found in spans.items():
                functions.setdefault(path, set()).update(found)
            per_test[name] = {"passed": passed, "seconds": round(seconds, 2),
                              "lines": {p: sorted(s) for p, s in executed.items()},
                              "functions": {p: sorted(s) for p, s in entered.items()}}
            if done % 50 == 0:
                print("  %d/%d tests" % (done, len(names)), flush=True)
    shutil.rmtree(prefixes, ignore_errors=True)
    data = {"tests": per_test,
            "executable": {p: sorted(s) for p, s in executable.items()},
            "functions": {p: sorted(s) for p, s in functions.items()},
            "seconds": round(time.time() - began)}
    with open(cache + ".tmp", "w") as f:
        json.dump(data, f)
    os.replace(cache + ".tmp", cache)
    return data


# ---------------------------------------------------------------- mutants

def masked(line):
    """The line with string and character literals blanked and its // comment
    cut, same length as the code part, so that no operator is found inside them."""
    out, i, quote = [], 0, None
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("__")
                i += 2
                continue
            out.append(quote if c == quote else "_")
            quote = None if c == quote else quote
        elif c in "\"'" and not (c == "'" and i > 0 and line[i - 1].isalnum()):
            quote = c
            out.append(c)
        elif line.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)[:len(line)]


SWAPS = [  # (operator name, regex on the masked line, replacement)
    ("<  -> <=", r"(?<=\s)<(?=\s)", "<="), ("<= -> <", r"(?<=\s)<=(?=\s)", "<"),
    (">  -> >=", r"(?<=\s)>(?=\s)", ">="), (">= -> >", r"(?<=\s)>=(?=\s)", ">"),
    ("== -> !=", r"(?<=\s)==(?=\s)", "!="), ("!= -> ==", r"(?<=\s)!=(?=\s)", "=="),
    ("+  -> -", r"(?<=\s)\+(?=\s)", "-"), ("-  -> +", r"(?<=\s)-(?=\s)", "+"),
    ("*  -> /", r"(?<=\s)\*(?=\s)", "/"), ("/  -> *", r"(?<=\s)/(?=\s)", "*"),
    ("+= -> -=", r"(?<=\s)\+=(?=\s)", "-="), ("-= -> +=", r"(?<=\s)-=(?=\s)", "+="),
    ("&& -> ||", r"(?<=\s)&&(?=\s)", "||"), ("|| -> &&", r"(?<=\s)\|\|(?=\s)", "&&"),
]
INTEGER = re.compile(r"(?<![\w.'])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.'])")
CONDITION = re.compile(r"\b(if|while) \(")
DECLARATION = re.compile(
    r"^(?:(?:const|static|constexpr|unsigned|signed|volatile|struct|class|enum)\s+)*"
    r"[A-Za-z_][\w:]*(?:<[^;=()]*>)?[\s*&]+[*&]*[A-Za-z_]\w*\s*(?:=|\(|\{|;|\[|,)")
NOT_EXPRESSIONS = ("return", "break", "continue", "case ", "default", "goto", "using ",
                   "namespace", "typedef", "template", "static_assert", "else", "}", "{",
                   "public:", "private:", "protected:", "extern")


def closing_paren(code, opening):
    depth = 0
    for i in range(opening, len(code)):
        depth += {"(": 1, ")": -1}.get(code[i], 0)
        if depth == 0:
            return i
    return None


def mutants_of_line(path, number, line, code, previous_code):
    found = []

    def add(operator, start, end, text):
        found.append({"file": path, "line": number, "operator": operator,
                      "new": line[:start] + text + line[end:]})

    for name, pattern, replacement in SWAPS:
        for m in re.finditer(pattern, code):
            add(name, m.start(), m.end(), replacement)
    for m in INTEGER.finditer(code):
        literal = m.group(1).lower()
        base = 16 if literal.startswith("0x") else 8 if len(literal) > 1 and literal[0] == "0" else 10
        value = int(literal, base)
        text = {16: hex, 8: lambda v: "0%o" % v, 10: str}[base](value + 1) + m.group(2)
        add("constant %s -> %s" % (m.group(0), text), m.start(), m.end(), text)
    for m in CONDITION.finditer(code):
        opening = m.end() - 1
        closing = closing_paren(code, opening)
        if closing is not None:
            condition = line[opening + 1:closing]
            add("negate " + m.group(1), opening + 1, closing, "!(" + condition + ")")
    stripped = code.strip()
    if (stripped.endswith(";") and not stripped.startswith(NOT_EXPRESSIONS)
            and not DECLARATION.match(stripped)
            and stripped.count("(") == stripped.count(")")
            and previous_code.rstrip().endswith((";", "{", "}"))):
        indent = line[:len(line) - len(line.lstrip())]
        found.append({"file": path, "line": number, "operator": "delete statement",
                      "new": indent + "// (statement deleted)"})
    return found


def all_mutants():
    files = sorted(os.path.join(d, f) for d in DIRS for f in os.listdir(d) if f.endswith(".cpp"))
    mutants = []
    for path in files:
        with open(path) as f:
            lines = f.read().split("\n")
        in_comment, previous_code = False, "{"
        for index, line in enumerate(lines):
            code = masked(line)
            if in_comment:
                if "*/" not in code:
                    continue
                in_comment = False
                continue  # a line that ends a block comment is left alone
            stripped = code.strip()
            if stripped.startswith("/*"):
                in_comment = "*/" not in stripped
                continue
            if not stripped or stripped.startswith("#") or "/*" in code:
                continue
            mutants += mutants_of_line(path, index + 1, line, code, previous_code)
            previous_code = code
    seen, unique = set(), []
    for m in mutants:
        key = (m["file"], m["line"], m["new"])
        if key not in seen:
            seen.add(key)
            unique.append(m)
    return unique


# ---------------------------------------------------------------- running

def selection(mutant, cov, runnable):
    path, number = mutant["file"], mutant["line"]
    if number in set(cov["executable"].get(path, [])):
        chosen = [t for t in runnable if number in set(cov["tests"][t]["lines"].get(path, []))]
        return "line", chosen
    spans = [s for s in cov["functions"].get(path, []) if s[0] <= number <= s[1]]
    if spans:
        outer = min(spans, key=lambda s: (s[0], -s[1]))
        chosen = [t for t in runnable
                  if any(s[0] <= outer[0] and outer[1] <= s[1] or outer[0] <= s[0] <= outer[1]
                         for s in cov["tests"][t]["functions"].get(path, []))]
        return "function", chosen
    return "all", list(runnable)


def short(name):
    return name.split("  # ")[0]


def seconds_of(name, cov):
    return cov["tests"].get(name, {}).get("seconds", 60)


def run_alone(name, tests, limit):
    proc = start_test(tests[name], {})
    try:
        return proc.wait(timeout=limit) == 0
    except subprocess.TimeoutExpired:
        return False
    finally:
        kill_group(proc.pid)
        proc.wait()
        running_groups.discard(proc.pid)


flaky = []
kills = {}  # a test that killed mutants before runs first: most kills come from few tests


def first_failure(names, tests, cov):
    """Runs the tests several at once, those that killed mutants before and
    then the quickest first; returns the first one that fails, crashes or
    outlives a few times its normal time, and fails again when it runs alone
    (a test that then passes was upset by the load of the others, not by the
    mutant: it is noted and the run goes on)."""
    pending = sorted(names, key=lambda n: (-kills.get(n, 0), seconds_of(n, cov), n))
    running = {}

    def stop_running():
        for proc, _, _ in running.values():
            kill_group(proc.pid)
            proc.wait()
            running_groups.discard(proc.pid)

    try:
        while pending or running:
            while pending and len(running) < args.jobs:
                name = pending.pop(0)
                limit = min(tests[name]["timeout"], 3 * seconds_of(name, cov) + 10)
                running[name] = (start_test(tests[name], {}), time.time() + limit, limit)
            time.sleep(0.05)
            for name, (proc, deadline, limit) in list(running.items()):
                code = proc.poll()
                if code is None and time.time() < deadline:
                    continue
                if code is None:
                    failure = short(name) + " (time-out)"
                elif code < 0:
                    failure = "%s (signal %d)" % (short(name), -code)
                else:
                    failure = short(name) if code > 0 else None
                kill_group(proc.pid)
                proc.wait()
                running_groups.discard(proc.pid)
                del running[name]
                if failure is None:
                    continue
                interrupted = list(running)
                stop_running()
                running.clear()
                if not run_alone(name, tests, limit):
                    kills[name] = kills.get(name, 0) + 1
                    return failure
                print("    %s failed among others but passed alone" % short(name), flush=True)
                flaky.append(name)
                pending = interrupted + pending
                break
        return None
    finally:
        stop_running()


def build_mutant(mutant):
    library = "tursa_" + mutant["file"].split("/")[1]
    lib = subprocess.run(["cmake", "--build", BUILD, "-j", CPU_JOBS, "--target", library],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if lib.returncode != 0:
        return "not compiled"
    rest = subprocess.run(["cmake", "--build", BUILD, "-j", CPU_JOBS, "--target"] + TARGETS,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return "built" if rest.returncode == 0 else "build failed"


def diff_of(mutant, original_lines):
    mutated = list(original_lines)
    mutated[mutant["line"] - 1] = mutant["new"]
    return "".join(difflib.unified_diff(
        [l + "\n" for l in original_lines], [l + "\n" for l in mutated],
        "a/" + mutant["file"], "b/" + mutant["file"], n=2))


def list_candidates():
    candidates = all_mutants()
    random.Random(args.seed).shuffle(candidates)
    for m in candidates:
        print("%s:%d  %s\n    %s" % (m["file"], m["line"], m["operator"], m["new"].strip()))
    kinds = {}
    for m in candidates:
        kind = m["operator"].split()[0]
        kinds[kind] = kinds.get(kind, 0) + 1
    print("%d candidates: %s" % (len(candidates), kinds))


def main():
    if args.list:
        return list_candidates()
    cov = coverage_map()
    say("building build-mutate/")
    configure_and_build(BUILD, ["-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                                "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -DNDEBUG"])
    tests = ctest_tests(BUILD)
    # A test that failed in the coverage run (the tool's coverage files can
    # upset it, e.g. under a file size limit) may have lost coverage: it runs
    # for every mutant, unless it fails on the sound tree here too.
    suspect = sorted(n for n in tests if not cov["tests"].get(n, {}).get("passed"))
    broken = [n for n in suspect if not run_alone(n, tests, tests[n]["timeout"])]
    always = [n for n in suspect if n not in broken]
    runnable = sorted(n for n in tests if n not in broken)
    if broken:
        say("left out, failing on the sound tree: " + ", ".join(map(short, broken)))
    if always:
        say("run for every mutant, coverage unknown (failed in the coverage run): "
            + ", ".join(map(short, always)))
    candidates = all_mutants()
    random.Random(args.seed).shuffle(candidates)
    say("seed %d: %d mutants drawn from %d candidates; %d tests" % (
        args.seed, args.count, len(candidates), len(runnable)))
    originals = {}
    results, skipped, whole_suite = [], 0, 0
    for mutant in candidates:
        if len(results) == args.count:
            break
        path = mutant["file"]
        mutant_started = time.time()
        if path not in originals:
            with open(path) as f:
                originals[path] = f.read()
        lines = originals[path].split("\n")
        mutated = list(lines)
        mutated[mutant["line"] - 1] = mutant["new"]
        try:
            with open(path, "w") as f:
                f.write("\n".join(mutated))
            built = build_mutant(mutant)
            if built == "not compiled":
                skipped += 1
                continue
            how, chosen = selection(mutant, cov, runnable)
            chosen = sorted(set(chosen) | set(always)) if how != "all" else chosen
            whole_suite += how == "all"
            if built == "build failed":
                killer = "the build (test discovery)"
            elif not chosen:
                killer = None
            else:
                killer = first_failure(chosen, tests, cov)
        finally:
            with open(path, "w") as f:
                f.write(originals[path])
        mutant["killer"], mutant["tests"], mutant["how"] = killer, len(chosen), how
        mutant["diff"] = diff_of(mutant, lines)
        results.append(mutant)
        fate = "killed by " + killer if killer else "SURVIVED"
        say("[%2d/%d] %s:%d  %s  (%d tests by %s, %d s)  %s" % (
            len(results), args.count, path, mutant["line"], mutant["operator"], len(chosen),
            how, time.time() - mutant_started, fate))
        write_report()
    killed = sum(1 for m in results if m["killer"])
    survived = len(results) - killed
    say()
    say("mutants that did not compile (skipped): %d" % skipped)
    say("mutants that ran the whole suite: %d" % whole_suite)
    say("runtime: %d s (the coverage map took %s s when it was made)" % (
        time.time() - started, cov.get("seconds", "?")))
    if flaky:
        say("tests that failed among others but passed alone (not counted as kills): %s"
            % ", ".join("%s (%dx)" % (short(n), flaky.count(n)) for n in sorted(set(flaky))))
    say("killed %d / survived %d / score %.1f%%" % (
        killed, survived, 100.0 * killed / max(1, len(results))))
    for m in results:
        if not m["killer"]:
            say()
            say("survivor %s:%d  %s" % (m["file"], m["line"], m["operator"]))
            say(m["diff"].rstrip("\n"))
    write_report()
    print("report: build-mutate/mutate-report.txt")


def on_signal(number, frame):
    raise KeyboardInterrupt


signal.signal(signal.SIGTERM, on_signal)
try:
    main()
except KeyboardInterrupt:
    for pid in list(running_groups):
        kill_group(pid)
    sys.exit(130)
PYTHON

if ! git diff --quiet -- src; then
    echo "mutate.sh: src/ was left changed; restoring it" >&2
    restore_sources
    exit 1
fi
exit "$status"
}
