#!/usr/bin/env bash
# Builds the Debian package in build-pkg/ (Release, programs only), installs
# it with apt-get as a user would, checks what it installed (with
# tursa-fleet: its page, units, user and settings file, a conffile), and
# removes and purges it again. Debian, as root. Ends non-zero with a message
# on the first failure.
#   scripts/package-check.sh
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive

name=tursa-backup
builddir=build-pkg
version_line='Kemb Backup "1.0.1.2-SW005"'
address=127.0.0.93 # a loopback address of its own for the simulator

installed=0
sim_pid=
state=

fail() {
    echo "package-check: FAILED: $*" >&2
    exit 1
}

step() {
    echo "== package-check: $*"
}

cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    [ -z "$state" ] || rm -rf "$state"
    if [ "$installed" = 1 ]; then
        echo "package-check: removing $name after a failure" >&2
        apt-get purge -y "$name" >/dev/null 2>&1 || true
    fi
}
trap cleanup EXIT

[ "$(id -u)" = 0 ] || fail "must run as root (it installs and removes $name with apt-get)"

# The build (tursa-fleet's JSON, command-line and SHA-256 libraries too),
# dpkg-shlibdeps (dpkg-dev, with file) and man-db for the check.
needed=(cmake make g++ nlohmann-json3-dev libcli11-dev libssl-dev dpkg-dev file man-db)
missing=()
for package in "${needed[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
    step "installing ${missing[*]}"
    apt-get update >/dev/null
    apt-get install -y "${missing[@]}" >/dev/null || fail "could not install ${missing[*]}"
fi

# dpkg drops files matched by a path-exclude line (minimal images exclude
# /usr/share/man that way); a later path-include puts them back. This check
# only reports such a rule: dpkg's configuration is the machine owner's.
page_path=/usr/share/man/man1/TursaBackupCmd.1
excluded_by=
for config in /etc/dpkg/dpkg.cfg.d/* /etc/dpkg/dpkg.cfg; do
    [ -f "$config" ] || continue
    line_number=0
    while IFS= read -r line || [ -n "$line" ]; do
        line_number=$((line_number + 1))
        case "$line" in
        path-exclude=* | path-exclude\ *)
            pattern=${line#path-exclude}
            pattern=${pattern#[= ]}
            # shellcheck disable=SC2053 # the pattern is a glob on purpose
            [[ $page_path == $pattern ]] && excluded_by="$config:$line_number: $line"
            ;;
        path-include=* | path-include\ *)
            pattern=${line#path-include}
            pattern=${pattern#[= ]}
            # shellcheck disable=SC2053
            [[ $page_path == $pattern ]] && excluded_by=
            ;;
        esac
    done <"$config"
done
if [ -n "$excluded_by" ]; then
    fail "dpkg on this machine does not install manual pages, because of
    $excluded_by
  so 'man TursaBackupCmd' cannot find the page after installing the package.
  Remove that line (or add 'path-include=/usr/share/man/man1/*' after it)
  and run this check again; it does not change dpkg's configuration itself."
fi

step "building the package in $builddir (Release, without tests and benchmarks)"
cmake -S . -B "$builddir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DTURSA_BENCHMARKS=OFF >/dev/null || fail "configuring $builddir failed"
cmake --build "$builddir" -j"$(nproc)" >/dev/null || fail "building in $builddir failed"
rm -f "$builddir"/"$name"_*.deb
(cd "$builddir" && cpack -G DEB >/dev/null) || fail "cpack -G DEB failed in $builddir"

arch=$(dpkg --print-architecture)
debs=("$builddir"/"$name"_*_"$arch".deb)
[ "${#debs[@]}" = 1 ] && [ -f "${debs[0]}" ] ||
    fail "expected one $builddir/${name}_<version>_$arch.deb, found: $(ls "$builddir"/*.deb 2>/dev/null || echo none)"
deb=${debs[0]}
echo "package: $deb"

step "checking the package's control fields and contents"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = "$name" ] || fail "Package is '$(field Package)', not $name"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)', not $arch"
[ "$(basename "$deb")" = "${name}_$(field Version)_$arch.deb" ] ||
    fail "file name $(basename "$deb") does not match Version $(field Version)"
[ "$(field Maintainer)" = "TursaBackupCmd developers" ] || fail "Maintainer is '$(field Maintainer)'"
[ -n "$(field Description)" ] || fail "the package has no Description"
depends=$(field Depends)
depended=$(tr ',|' '\n\n' <<<"$depends" | awk '{ print $1 }')
for library in libc6 libstdc++6; do
    grep -qxF "$library" <<<"$depended" || fail "Depends '$depends' lacks $library"
done
echo "Version: $(field Version)  Depends: $depends"

# Exactly the programs and pages, nothing else (no tests, no benchmarks);
# with tursa-fleet its page, service, timer and settings file.
fleet=0
[ ! -x "$builddir/tursa-fleet" ] || fleet=1
fleet_files=(/usr/bin/tursa-fleet /usr/share/man/man1/tursa-fleet.1 /etc/default/tursa-fleet
    /usr/lib/systemd/system/tursa-fleet.service /usr/lib/systemd/system/tursa-fleet.timer)
expected=$(
    printf '/usr/bin/%s\n' TursaBackupCmd tursa-sim
    [ ! -x "$builddir/tursa-inspect" ] || echo /usr/bin/tursa-inspect
    for page in man/*.1; do
        [ "$page" = man/tursa-fleet.1 ] || echo "/usr/share/man/man1/$(basename "$page")"
    done
    [ "$fleet" = 0 ] || printf '%s\n' "${fleet_files[@]}"
)
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }')
if [ "$(sort <<<"$expected")" != "$(sort <<<"$actual")" ]; then
    fail "the package's files differ from the programs and pages:
$(diff <(sort <<<"$expected") <(sort <<<"$actual") | grep '^[<>]' | sed 's/^</  missing:/; s/^>/  extra:  /')"
fi
echo "$actual"
if [ "$fleet" = 1 ]; then
    conffiles=$(dpkg-deb -I "$deb" conffiles 2>/dev/null) || conffiles=
    [ "$conffiles" = /etc/default/tursa-fleet ] ||
        fail "the package's conffiles are '$conffiles', not /etc/default/tursa-fleet"
    grep -q tursa-fleet <<<"$(field Description)" || fail "the Description does not mention tursa-fleet"
fi

if dpkg -s "$name" >/dev/null 2>&1; then
    step "removing the $name that was installed before this check"
    apt-get remove -y "$name" >/dev/null || fail "could not remove the earlier $name"
fi

# The package installs the nightly timer without enabling it.
timer_link=/etc/systemd/system/timers.target.wants/tursa-fleet.timer
timer_enabled_before=0
[ ! -e "$timer_link" ] || timer_enabled_before=1

step "apt-get install -y ./$deb"
installed=1
apt-get install -y "./$deb" || fail "apt-get install -y ./$deb failed"
hash -r

step "checking the installed programs and pages"
tool=$(command -v TursaBackupCmd) || fail "TursaBackupCmd is not on PATH after the install"
[ "$tool" = /usr/bin/TursaBackupCmd ] ||
    fail "TursaBackupCmd on PATH is $tool, not the package's /usr/bin/TursaBackupCmd (a copy installed from source shadows it)"
output=$(TursaBackupCmd -V) || fail "TursaBackupCmd -V ended with status $?"
[ "$output" = "$version_line" ] || fail "TursaBackupCmd -V printed '$output', expected '$version_line'"
echo "TursaBackupCmd -V: $output"

programs=(TursaBackupCmd tursa-sim)
[ "$fleet" = 0 ] || programs+=(tursa-fleet)
for program in "${programs[@]}"; do
    page=$(man -w "$program") || fail "man -w $program finds no page"
    case "$page" in
    /usr/share/man/man1/"$program".1*) echo "man -w $program: $page" ;;
    *) fail "man -w $program found $page, not the package's page in /usr/share/man/man1" ;;
    esac
done
shown=$(MANPAGER=cat MANWIDTH=200 man TursaBackupCmd 2>/dev/null) || fail "man TursaBackupCmd failed"
grep -q 'Unkown interface version\.' <<<"$shown" || fail "man TursaBackupCmd does not show the page's text"

[ "$(command -v tursa-sim)" = /usr/bin/tursa-sim ] || fail "tursa-sim on PATH is not the package's /usr/bin/tursa-sim"
usage=$(tursa-sim --help) || fail "tursa-sim --help ended with status $?"
[[ $usage == "Usage: tursa-sim --state-dir DIR"* ]] || fail "tursa-sim --help printed no usage text"
echo "tursa-sim --help: $(head -1 <<<"$usage")"

if [ "$fleet" = 1 ]; then
    [ "$(command -v tursa-fleet)" = /usr/bin/tursa-fleet ] || fail "tursa-fleet on PATH is not the package's /usr/bin/tursa-fleet"
    getent passwd tursa-fleet >/dev/null || fail "the package did not create the user tursa-fleet"
    [ "$timer_enabled_before" = 1 ] || [ ! -e "$timer_link" ] || fail "the package enabled tursa-fleet.timer"
    units=(/usr/lib/systemd/system/tursa-fleet.service /usr/lib/systemd/system/tursa-fleet.timer)
    if command -v systemd-analyze >/dev/null; then
        systemd-analyze verify "${units[@]}" || fail "systemd-analyze verify finds fault with the tursa-fleet units"
        echo "systemd-analyze verify: tursa-fleet.service and tursa-fleet.timer are sound"
    else
        echo "systemd-analyze is not installed: the check of the tursa-fleet units is skipped"
    fi
fi

# The installed programs together: the tool logs in to the simulator over
# TCP and refuses a restore file of another version before changing anything.
step "restore of an old-version file against the installed simulator"
state=$(mktemp -d)
# A sound file but for its version, so that only the controller can refuse it.
printf '%s\n' Global.Version=100 UserManagerConfig.DataLength=0 ConfigManager.DataLength=0 \
    DayLightConfig.DataLength=0 SystemTimeConfig.DataLength=0 FPM0.MASTER=192 \
    FPM1.DataLength=62000 "FPM1.Data=$(head -c 62000 /dev/zero | base64 -w0)" \
    FPM1.CFG=AAAAAAA= FPM1.CRC=AAAAAAA= '' >"$state/old.bak"
mkdir "$state/sim"
tursa-sim --state-dir "$state/sim" --address "$address" --lifetime 60 &
sim_pid=$!
for _ in $(seq 50); do
    [ -f "$state/sim/ready" ] && break
    sleep 0.1
done
[ -f "$state/sim/ready" ] || fail "the installed tursa-sim did not start on $address"
status=0
message=$(TursaBackupCmd --restore --ip-address "$address" --password service \
    --file-name "$state/old.bak" 2>&1) || status=$?
[ "$status" = 12 ] && [ "$message" = "Backup file version not compatible." ] ||
    fail "restore of a version-100 file ended with status $status and '$message', expected 12 and 'Backup file version not compatible.'"
grep -q ' 11574 frame 01 09 ' "$state/sim/events.log" || fail "the tool did not log in to the simulator"
echo "TursaBackupCmd --restore: status $status, $message"

# The installed tursa-fleet finds the tool beside it, hands it the password
# from the inventory's file, and records the refusal in its store.
if [ "$fleet" = 1 ]; then
    step "a fleet run with a wrong password against the installed simulator"
    printf 'wrong\n' >"$state/password"
    printf 'site address=%s password_file=%s\n' "$address" "$state/password" >"$state/inventory"
    status=0
    report=$(tursa-fleet run "$state/inventory" --store "$state/store" --retries 0) || status=$?
    [ "$status" = 1 ] && grep -q '^site  failed  status 3: Wrong password\.' <<<"$report" ||
        fail "tursa-fleet run ended with status $status and '$report', expected 1 and site failed with status 3"
    status=0
    shown=$(tursa-fleet status --store "$state/store" --older-than 26h) || status=$?
    [ "$status" = 1 ] && grep -q '^site  last success: never' <<<"$shown" ||
        fail "tursa-fleet status --older-than 26h ended with status $status and '$shown'"
    echo "tursa-fleet run: status 1, $(head -1 <<<"$report")"
fi
kill "$sim_pid"
wait "$sim_pid" || fail "tursa-sim did not end cleanly on SIGTERM"
sim_pid=

step "apt-get remove -y $name"
apt-get remove -y "$name" || fail "apt-get remove -y $name failed"
installed=0
hash -r
! dpkg -s "$name" 2>/dev/null | grep -q '^Status: install ok installed' || fail "$name is still installed"
for file in /usr/bin/TursaBackupCmd /usr/bin/tursa-sim /usr/share/man/man1/TursaBackupCmd.1; do
    [ ! -e "$file" ] || fail "$file is still there after the removal"
done
if [ "$fleet" = 1 ]; then
    # A conffile outlives a removal and goes with the purge.
    for file in "${fleet_files[@]}"; do
        [ "$file" = /etc/default/tursa-fleet ] || [ ! -e "$file" ] || fail "$file is still there after the removal"
    done
    [ -f /etc/default/tursa-fleet ] || fail "apt-get remove took the conffile /etc/default/tursa-fleet"
    step "apt-get purge -y $name"
    apt-get purge -y "$name" >/dev/null || fail "apt-get purge -y $name failed"
    [ ! -e /etc/default/tursa-fleet ] || fail "/etc/default/tursa-fleet is still there after the purge"
fi

echo "package-check: PASSED ($(basename "$deb") built, installed, checked and removed)"
