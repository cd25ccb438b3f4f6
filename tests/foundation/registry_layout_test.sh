#!/bin/sh
# Checks the registry layout that the settings store writes, as the system's own registry tool
# sees it: every key, value name and type (REG_SZ or REG_DWORD), nothing more and nothing less.
# Writes the current user's real settings key, so it runs only in the build's private Wine prefix.
#   registry_layout_test.sh WINE_RUN SETTINGS_TOOL
set -eu
wine_run=$1
tool=$2

"$wine_run" "$tool" save
query=$("$wine_run" reg query 'HKCU\Software\Corvane\Parvel' /s | tr -d '\r')
"$wine_run" "$tool" delete

# One line per value: subkey (relative to the settings key) | name | type.
actual=$(printf '%s\n' "$query" | awk '
    BEGIN { root = "HKEY_CURRENT_USER\\Software\\Corvane\\Parvel" }
    /^HKEY_/ { key = substr($0, length(root) + 1); next }
    NF >= 2 && $2 ~ /^REG_/ { print key "|" $1 "|" $2 }' | LC_ALL=C sort)

expected=$(LC_ALL=C sort <<'LAYOUT'
|Portname|REG_SZ
|Model|REG_DWORD
|Speed|REG_DWORD
|StopBits|REG_DWORD
|Wiegand|REG_DWORD
|Binary|REG_DWORD
|CorrectVM100|REG_DWORD
|Log|REG_DWORD
|LogFlags|REG_DWORD
|ConnectTimeout|REG_DWORD
|ReqTimeout|REG_DWORD
|ReqTries|REG_DWORD
|ConnectPeriod|REG_DWORD
|RxPeriod|REG_DWORD
|Prefix|REG_DWORD
|Suffix|REG_DWORD
|LoadAtStartup|REG_DWORD
|SearchFlags|REG_DWORD
|FindIpTimeout|REG_DWORD
|FindIpTries|REG_DWORD
|KeyTypes|REG_DWORD
|SoundEnabled|REG_DWORD
\ReadMf|Enabled|REG_DWORD
\ReadMf|Flags|REG_DWORD
\ReadMf|Mask|REG_DWORD
\ReadMf|Passw|REG_SZ
\ReadMf|Sect|REG_DWORD
\ReadMf|Block|REG_DWORD
\ReadUL|Enabled|REG_DWORD
\ReadUL|Page|REG_DWORD
\ReadUL|Count|REG_DWORD
\SoundFileList|Item1|REG_SZ
\SoundFileList|Item2|REG_SZ
\SoundFileList|Item3|REG_SZ
\SoundFileList|Item4|REG_SZ
\Formats\Item1|Name|REG_SZ
\Formats\Item1|Template|REG_SZ
\Formats\Item1|Params|REG_SZ
\Formats\Item1|Comment|REG_SZ
\Formats\Item1|KeyTypes|REG_DWORD
\Formats\Item1|KeySize|REG_DWORD
\Formats\Item2|Name|REG_SZ
\Formats\Item2|Template|REG_SZ
\Formats\Item2|Params|REG_SZ
\Formats\Item2|Comment|REG_SZ
\Formats\Item2|KeyTypes|REG_DWORD
\Formats\Item2|KeySize|REG_DWORD
LAYOUT
)

# A few values in their stored form.
for line in 'Portname    REG_SZ    COM7' 'Log    REG_DWORD    0x1' 'CorrectVM100    REG_DWORD    0x1' \
            'Wiegand    REG_DWORD    0x0' 'Binary    REG_DWORD    0x1' 'KeyTypes    REG_DWORD    0x7ffff' \
            'Passw    REG_SZ    3c7a91e5b20d' 'Item1    REG_SZ    C:\Sounds\read.wav'; do
    if ! printf '%s\n' "$query" | grep -qF "    $line"; then
        echo "registry layout: missing value line: $line" >&2
        printf '%s\n' "$query" >&2
        exit 1
    fi
done

if [ "$actual" != "$expected" ]; then
    echo "registry layout differs (expected, then found):" >&2
    printf '%s\n' "$expected" > "${TMPDIR:-/tmp}/registry_layout.expected.$$"
    printf '%s\n' "$actual" | diff "${TMPDIR:-/tmp}/registry_layout.expected.$$" - >&2 || true
    rm -f "${TMPDIR:-/tmp}/registry_layout.expected.$$"
    exit 1
fi
echo "registry layout: $(printf '%s\n' "$actual" | wc -l) values as expected"
