#!/usr/bin/env bash
# Installs the build into a staging tree with DESTDIR, makes the tree read-only and runs the
# installed programs as an unprivileged user with a fresh home: nothing may be written under the
# prefix, and everything the user's choices write must land in that user's XDG folders.
# Usage: staged-install-test.sh BUILD_DIR SITE_SERVER SITE_FOLDER
set -euo pipefail
build=$1 site_server=$2 site_folder=$3

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIPPED: switching to an unprivileged user needs root"
    exit 77
fi
user=nobody
fail() { echo "FAILED: $*" >&2; exit 1; }

# The staging tree lies in /tmp so that the unprivileged user can reach it whatever the build
# directory's parents allow.
work=$(mktemp -d /tmp/perchlight-staged.XXXXXX)
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
    fi
    chmod -R u+w "$work" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
stage=$work/stage
prefix=/usr
DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >"$work/install.log"
tree=$stage$prefix
for file in bin/perchlight share/perchlight/appel-medium.xml share/perchlight/BaseDataschema-std.xml \
            share/perchlight/BaseDataschema-std.SOURCE.md share/perchlight/help \
            share/perchlight/examples/sites share/man/man1/perchlight.1.gz \
            share/bash-completion/completions/perchlight; do
    [ -e "$tree/$file" ] || fail "not installed: $prefix/$file"
done
chmod -R a-w "$tree"
find "$tree" -printf '%p %s %T@ %m\n' | sort >"$work/tree-before"

home=$work/home
mkdir "$home"
chown "$user" "$home"
# A clean environment but for the sanitizers' options of a sanitized build.
passed=()
for name in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS; do
    [ -n "${!name:-}" ] && passed+=("$name=${!name}")
done
as_user() {
    runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 \
        QT_QPA_PLATFORM=offscreen "QTWEBENGINE_CHROMIUM_FLAGS=--no-sandbox --disable-gpu" \
        "${passed[@]}" "$@"
}
# Runs the installed tool as the user and expects the exit status and a line of its output.
expect() {
    local status=$1 text=$2
    shift 2
    local output actual=0
    output=$(as_user "$tree/bin/perchlight" "$@" 2>&1) || actual=$?
    if [ "$actual" -ne "$status" ] || ! grep -qF -- "$text" <<<"$output"; then
        fail "perchlight $*: expected status $status and \"$text\", got $actual:
$output"
    fi
}

"$site_server" "$site_folder" "$work/requests.log" >"$work/server.out" &
server_pid=$!
for _ in $(seq 100); do
    [ -s "$work/server.out" ] && break
    kill -0 "$server_pid" 2>/dev/null || fail "the site server did not start"
    sleep 0.1
done
site=$(head -n1 "$work/server.out")
[ -n "$site" ] || fail "the site server gave no address"

data=$home/.local/share/perchlight
cache=$home/.cache/perchlight
expect 0 "perchlight $(sed -n 's/^project(Perchlight VERSION \([0-9.]*\).*/\1/p' \
    "$(dirname "$0")/../../CMakeLists.txt")" --version
expect 0 "settings key created: $home/.config/" register
if [ -x "$tree/bin/perchlight-browser" ]; then
    expect 0 "browser module registered: $tree/lib/perchlight/libperchlight-agent.so" register
fi
expect 0 "rules:   Medium ($tree/share/perchlight/appel-medium.xml)" \
    check "$site/index.html" --level medium
expect 0 "verdict: matched" check "$site/index.html" --level medium
expect 0 "custom warnings: contactPhone, noAccess" custom --set noAccess,contactPhone
expect 0 "rules:   Custom (stored level) ($data/p3ppreferences.xml)" check "$site/index.html"
expect 0 "privacy level: Low" level low
expect 0 "exported: $home/low.xml" export "$home/low.xml"
expect 0 "privacy level: Imported ($data/appel-imported.xml)" import "$home/low.xml"
expect 0 "rules:   Imported (stored level) ($data/appel-imported.xml)" check "$site/index.html"
expect 0 "$site/w3c/p3p.xml" cache list

# The policy came from the network once; every later check was served from the cache.
fetched=$(grep -c '^/w3c/p3p.xml$' "$work/requests.log" || true)
[ "$fetched" -eq 1 ] || fail "the policy was fetched $fetched times, not once"

if [ -x "$tree/bin/perchlight-browser" ]; then
    # The browser loads the module registered from lib/perchlight and checks the page offscreen.
    # The settings dialogs that registration asks for at the first start wait for a person.
    sed -i 's/^\(.*ShowSettingsAtNextStart.*\)=1$/\1=0/' "$home/.config/perchlight-browser/registry"
    as_user timeout 300 "$tree/bin/perchlight-browser" --screenshot "$home/browser.png" \
        "$site/index.html" >"$work/browser.log" 2>&1 ||
        fail "the installed browser failed: $(cat "$work/browser.log")"
    [ -s "$home/browser.png" ] || fail "the installed browser saved no picture"
    if grep -E "not loaded|no helpers loaded|could not start" "$work/browser.log"; then
        fail "the installed browser ran without its agent module"
    fi
    # PERCHLIGHT_SCREENSHOTS keeps the picture for a person to look at, as the dialog tests do.
    if [ -n "${PERCHLIGHT_SCREENSHOTS:-}" ]; then
        mkdir -p "$PERCHLIGHT_SCREENSHOTS"
        cp "$home/browser.png" "$PERCHLIGHT_SCREENSHOTS/installed-browser.png"
    fi
fi

find "$tree" -printf '%p %s %T@ %m\n' | sort >"$work/tree-after"
diff -u "$work/tree-before" "$work/tree-after" || fail "something was written under the prefix"
for file in "$data/p3ppreferences.xml" "$data/appel-imported.xml" "$cache/cacheindex.xml"; do
    [ -f "$file" ] || fail "not written: $file"
done
for directory in "$data" "$cache"; do
    [ "$(stat -c %a "$directory")" = 700 ] || fail "$directory is not private (mode 0700)"
done
outside=$(find "$home" -mindepth 1 -maxdepth 1 -not -name .local -not -name .cache \
    -not -name .config -not -name low.xml -not -name browser.png -print)
[ -z "$outside" ] || fail "written outside the XDG folders: $outside"
echo "installed tree unchanged; the user's files: $(cd "$home" && find .local .cache .config -type f | sort | tr '\n' ' ')"
