#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build tree into a prefix of its own and checks the installed tree as a packager
# or a host developer meets it, with nothing of the build tree or the environment helping.
#
# Usage: check_install.sh BUILD_DIR SOURCE_DIR WORK_DIR CHECK
#   hosts       a C host built with pkg-config against the installed library runs an
#               exchange, and a CMake project finds the library with find_package
#   standalone  the installed programs name no path of the build tree, find their library and
#               entitlements under the prefix, and say so when the library is missing
#   desktop     the desktop entries offer sending, never opening: no MIME type and no menu
#               entry among the applications; every entry and the metainfo validate
set -euo pipefail

build="$1" source="$2" work="$3" check="$4"
rm -rf "$work"
mkdir -p "$work"
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A sandbox provisioned as a signed-in user; the entitlements are the installed tavro's.
provision() {
    mkdir -p "$work/data" "$work/config/tavro" "$work/exchange"
    echo '{"status": "available", "userRecordName": "_installed-host"}' \
        >"$work/config/tavro/cloud-account.json"
    export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
    unset TAVRO_DISABLE_CLOUDKIT TAVRO_CLOUDKIT_ENABLED TAVRO_LIBRARY LD_LIBRARY_PATH
}

case "$check" in
hosts)
    provision
    pcdir="$(dirname "$(find "$prefix" -name tavro-apple.pc)")"
    [ -n "$pcdir" ] || fail "no tavro-apple.pc installed"
    export PKG_CONFIG_PATH="$pcdir"
    libdir="$(pkg-config --variable=libdir tavro-apple)"
    # shellcheck disable=SC2046
    cc -o "$work/host" "$source/tests/packaging/host.c" $(pkg-config --cflags --libs tavro-apple) \
        -Wl,-rpath,"$libdir" || fail "the C host does not build with pkg-config's flags"
    TAVRO_ENTITLEMENTS="$prefix/share/tavro/tavro.entitlements" "$work/host" "$work/exchange" ||
        fail "the C host's exchange failed"
    cmake -S "$source/tests/packaging/consumer" -B "$work/consumer" -G Ninja \
        -DCMAKE_PREFIX_PATH="$prefix" >/dev/null || fail "find_package(TavroApple) failed"
    cmake --build "$work/consumer" >/dev/null || fail "the find_package host does not build"
    ;;
standalone)
    provision
    unset TAVRO_ENTITLEMENTS
    for program in "$prefix"/bin/*; do
        # Debug information names the build folder by nature; what the program uses does not.
        objcopy --strip-debug "$program" "$work/stripped"
        if grep -qF "$build" "$work/stripped"; then
            fail "$program names the build tree $build"
        fi
    done
    [ -z "$(find "$prefix/bin" -name '*.entitlements')" ] || fail "entitlements installed in bin/"
    for file in "$prefix"/share/tavro/*.entitlements; do
        [ "$(stat -c %a "$file")" = 644 ] || fail "$file is not mode 0644"
    done
    # Provisioned by the installed entitlements alone, the installed tavro reaches its container.
    "$prefix/bin/tavro" group-path | grep -qF "$work/data/group-containers/" ||
        fail "the installed tavro found no entitlements or no library"
    # Without its library it says so and loads nothing else.
    find "$prefix" -name 'libTavroApple.so*' -delete
    status=0
    message="$("$prefix/bin/tavro" group-path 2>&1 >/dev/null)" || status=$?
    [ "$status" = 1 ] || fail "tavro without its library ended with status $status"
    grep -q '^tavro: .*libTavroApple\.so\.1' <<<"$message" ||
        fail "tavro without its library said: $message"
    ;;
desktop)
    shopt -s nullglob
    entries=("$prefix"/share/applications/*.desktop)
    [ ${#entries[@]} -gt 0 ] || fail "no desktop entry installed"
    for entry in "${entries[@]}"; do
        # A MIME type makes the program the default opener wherever nothing else claims it.
        ! grep -q '^MimeType=' "$entry" || fail "$entry claims MIME types"
        grep -qx 'NoDisplay=true' "$entry" || fail "$entry is listed among the applications"
    done
    [ -n "$(echo "$prefix"/share/Thunar/sendto/*.desktop)" ] || fail "no Thunar Send To entry"
    [ -n "$(echo "$prefix"/share/kio/servicemenus/*.desktop)" ] || fail "no Dolphin service menu"
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "${entries[@]}" "$prefix"/share/Thunar/sendto/*.desktop ||
            fail "desktop-file-validate"
    fi
    if command -v appstreamcli >/dev/null; then
        appstreamcli validate --no-net "$prefix"/share/metainfo/*.metainfo.xml ||
            fail "appstreamcli validate"
    fi
    ;;
*)
    fail "unknown check $check"
    ;;
esac
rm -rf "$work"
echo "PASS: $check"
