#!/usr/bin/env bash
# Checks the manual pages in man/ against the programs they describe:
#   - every page formats without a groff warning;
#   - TursaBackupCmd.1 names every option pair of `TursaBackupCmd -h`, the
#     exact `-V` line and every message a run ends with (each failRun,
#     rejectArgument and numericalArgument text in src/, odd spellings as
#     the tool prints them);
#   - tursa-sim.1 names every option and fault kind of `tursa-sim --help`;
#   - tursa-fleet.1, when FLEET_BINARY is given, names every subcommand of
#     `tursa-fleet --help` and every option of each subcommand's --help.
#   scripts/man-check.sh TOOL_BINARY SIM_BINARY [FLEET_BINARY]
set -euo pipefail
cd "$(dirname "$0")/.."

tool=$1
sim=$2
fleet=${3:-}
failures=0

fail() {
    echo "man-check: $*" >&2
    failures=$((failures + 1))
}

# The page as plain text, each paragraph on one line, no hyphenation, runs
# of blanks squeezed, so that a text is found wherever the page breaks it.
render() {
    groff -man -Tascii -rLL=3000n -rHY=0 -P-cbou "$1" 2>/dev/null | tr -s ' '
}

# Fails unless the rendered page holds the text (blanks squeezed too).
expect_text() {
    local page=$1 rendered=$2 text
    text=$(printf '%s' "$3" | tr -s ' ')
    grep -qF -- "$text" <<<"$rendered" || fail "$page lacks: $text"
}

for page in man/*.1; do
    warnings=$(groff -man -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "$page has groff warnings:"$'\n'"$warnings"
done

page=man/TursaBackupCmd.1
rendered=$(render "$page")
help=$("$tool" -h)
pairs=$(grep -oE -- '-[a-zA-Z], --[a-z-]+' <<<"$help")
[ -n "$pairs" ] || fail "no options found in the output of $tool -h"
while IFS= read -r pair; do
    expect_text "$page" "$rendered" "$pair"
done <<<"$pairs"
expect_text "$page" "$rendered" "$("$tool" -V)"
messages=$(grep -rhoE '(failRun|rejectArgument)\("[^"]+"|numericalArgument\([a-z]+, "[^"]+"' src |
    sed -E 's/^[^"]*"//; s/"$//' | sort -u)
[ -n "$messages" ] || fail "no failure messages found in src/"
while IFS= read -r message; do
    expect_text "$page" "$rendered" "$message"
done <<<"$messages"

page=man/tursa-sim.1
rendered=$(render "$page")
help=$("$sim" --help)
options=$(grep -oE -- '--[a-z][a-z-]+' <<<"$help" | sort -u)
[ -n "$options" ] || fail "no options found in the output of $sim --help"
while IFS= read -r option; do
    expect_text "$page" "$rendered" "$option"
done <<<"$options"
kinds=$(grep -oE -- '^ +[a-z]+:(TYPE|FUNC):N' <<<"$help" | tr -d ' ')
[ -n "$kinds" ] || fail "no fault kinds found in the output of $sim --help"
while IFS= read -r kind; do
    expect_text "$page" "$rendered" "$kind"
done <<<"$kinds"

if [ -n "$fleet" ]; then
    page=man/tursa-fleet.1
    rendered=$(render "$page")
    commands=$("$fleet" --help | awk '/^Subcommands:/ { on = 1; next } on && NF { print $1 }')
    [ -n "$commands" ] || fail "no subcommands found in the output of $fleet --help"
    while IFS= read -r command; do
        expect_text "$page" "$rendered" "tursa-fleet $command"
        options=$("$fleet" "$command" --help | grep -oE -- '--[a-z][a-z-]+' | grep -vx -- --help | sort -u)
        [ -n "$options" ] || fail "no options found in the output of $fleet $command --help"
        while IFS= read -r option; do
            expect_text "$page" "$rendered" "$option"
        done <<<"$options"
    done <<<"$commands"
fi

if [ "$failures" -gt 0 ]; then
    echo "man-check: $failures problem(s) in the manual pages" >&2
    exit 1
fi
echo "man-check: manual pages agree with the programs"
