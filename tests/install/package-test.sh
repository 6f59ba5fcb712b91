#!/usr/bin/env bash
# Builds the Debian package of the build directory and checks its control fields and its file
# list; runs lintian on it when LINTIAN names the program, and fails on any error it reports.
# Usage: package-test.sh BUILD_DIR WORK_DIR [LINTIAN]
set -euo pipefail
build=$1 work=$2 lintian=${3:-}
fail() { echo "FAILED: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log") ||
    fail "cpack: $(cat "$work/cpack.log")"
package=$(find "$work" -maxdepth 1 -name 'perchlight_*.deb' | head -n1)
[ -n "$package" ] || fail "no package made: $(cat "$work/cpack.log")"

field() { dpkg-deb -f "$package" "$1"; }
[ "$(field Package)" = perchlight ] || fail "Package: $(field Package)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = web ] || fail "Section: $(field Section)"
depends=$(field Depends)
for library in libc6 libcurl4 libexpat1 libstdc++6; do
    grep -q "\b$library\b" <<<"$depends" || fail "Depends lacks $library: $depends"
done
description=$(field Description)
[ "$(wc -l <<<"$description")" -gt 3 ] || fail "no long description: $description"
grep -q "W3C licence" <<<"$description" || fail "the description names no licence note"

dpkg-deb -c "$package" | awk '{print $6}' | sed 's|^\./|/|' | sort >"$work/files"
expected=(/usr/bin/perchlight /usr/share/perchlight/appel-low.xml
          /usr/share/perchlight/appel-medium.xml /usr/share/perchlight/appel-high.xml
          /usr/share/perchlight/BaseDataschema-std.xml
          /usr/share/perchlight/BaseDataschema-std.SOURCE.md
          /usr/share/perchlight/template-page.html /usr/share/perchlight/template-statement.html
          /usr/share/perchlight/examples/sites/demo.json
          /usr/share/man/man1/perchlight.1.gz /usr/share/bash-completion/completions/perchlight
          /usr/share/doc/perchlight/copyright /usr/share/doc/perchlight/changelog.gz)
if [ -x "$build/perchlight-browser" ]; then
    grep -q "\blibqt6webenginecore6\b" <<<"$depends" || fail "Depends lacks Qt WebEngine: $depends"
    expected+=(/usr/bin/perchlight-browser /usr/lib/perchlight/libperchlight-agent.so
               /usr/share/applications/perchlight-browser.desktop
               /usr/share/man/man1/perchlight-browser.1.gz
               /usr/share/icons/hicolor/48x48/apps/perchlight-browser.png
               /usr/share/icons/hicolor/256x256/apps/perchlight-browser.png
               /usr/share/perchlight/extension/perchlight.xpi
               /usr/share/perchlight/extension/perchlight/manifest.json)
fi
# The extension's host, with its manifests where the browsers look system-wide; the one under /etc
# is a conffile, and each names the installed host.
if [ -x "$build/perchlight-host" ]; then
    expected+=(/usr/bin/perchlight-host
               /etc/chromium/native-messaging-hosts/org.perchlight.host.json
               /usr/lib/mozilla/native-messaging-hosts/org.perchlight.host.json)
    dpkg-deb --ctrl-tarfile "$package" | tar -xO ./conffiles |
        grep -qxF /etc/chromium/native-messaging-hosts/org.perchlight.host.json ||
        fail "the Chromium host manifest is no conffile"
    for manifest in etc/chromium usr/lib/mozilla; do
        dpkg-deb --fsys-tarfile "$package" |
            tar -xO "./$manifest/native-messaging-hosts/org.perchlight.host.json" |
            grep -qF '"path": "/usr/bin/perchlight-host"' ||
            fail "the $manifest host manifest does not name /usr/bin/perchlight-host"
    done
fi
for file in "${expected[@]}"; do
    grep -qxF "$file" "$work/files" || fail "the package lacks $file"
done
# Nothing the programs write at run time, nothing of the build tree.
if grep -E '/cache/|cacheindex|NoPromptSites|p3ppreferences|CMakeFiles|\.o$' "$work/files"; then
    fail "the package holds files it must not"
fi

if [ -n "$lintian" ]; then
    "$lintian" --tag-display-limit 0 "$package" >"$work/lintian.log" 2>&1 || true
    if grep '^E:' "$work/lintian.log"; then
        fail "lintian reports errors"
    fi
    grep -c '^W:' "$work/lintian.log" | xargs echo "lintian warnings:"
fi
echo "package $package: $(wc -l <"$work/files") entries"
