#!/bin/sh
# The configurator's Save in registry mode writes the add-in's key, as the system's own registry
# tool sees it, and writes no settings file; the real user's Wine prefix is never touched (the
# tests run in the build's private prefix).
#   registry_mode_test.sh WINE_RUN CONFIGDATA_TOOL BUILD_DIR
set -eu
wine_run=$1
tool=$2
build=$3

prefix=$(sed -n 's/^export WINEPREFIX="\(.*\)"$/\1/p' "$wine_run")
case "$prefix" in
    "$build"/*) ;;
    *) echo "registry mode: the tests' prefix '$prefix' is not the build's own" >&2; exit 1 ;;
esac
real_user="${HOME:-/nonexistent}/.wine/user.reg"
before=$( [ -f "$real_user" ] && sha1sum "$real_user" || echo none)

data=$(mktemp -d "${TMPDIR:-/tmp}/configdata.XXXXXX")
trap 'rm -rf "$data"; "$wine_run" "$tool" delete >/dev/null 2>&1 || true' EXIT
"$wine_run" "$tool" delete
"$wine_run" "$tool" save "Z:$(printf '%s' "$data" | tr / '\\')"
query=$("$wine_run" reg query 'HKCU\Software\Corvane\Parvel' /s | tr -d '\r')

fail() { echo "registry mode: $1" >&2; printf '%s\n' "$query" >&2; exit 1; }
for line in 'Portname    REG_SZ    COM9' 'KeyTypes    REG_DWORD    0x7e' 'Name    REG_SZ    HelmSaaS' \
            'Template    REG_SZ    %.3u,%.5u' 'Params    REG_SZ    b2 w01'; do
    printf '%s\n' "$query" | grep -qF "    $line" || fail "missing value line: $line"
done
# Only the enabled format reaches the add-in.
printf '%s\n' "$query" | grep -q 'Formats\\Item2' && fail "a disabled format was written"
printf '%s\n' "$query" | grep -qF 'Disabled' && fail "a disabled format was written"
[ -f "$data/ConfigParvel.xml" ] || fail "ConfigParvel.xml was not written"
[ -f "$data/Parvel.xml" ] && fail "a settings file was written in registry mode"

after=$( [ -f "$real_user" ] && sha1sum "$real_user" || echo none)
[ "$before" = "$after" ] || fail "the real user's registry changed"
echo "registry mode: the add-in's key holds the saved values and the one enabled format"
