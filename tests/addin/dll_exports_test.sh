#!/bin/sh
# Parvel.dll as the platform meets it: exactly the four exports by name, imports from Windows
# system libraries only (the C++ runtime is linked in statically), and a version resource.
#   dll_exports_test.sh OBJDUMP PARVEL_DLL
set -u
objdump=$1
dll=$2
fail=0
out=$(mktemp)
trap 'rm -f "$out"' EXIT

if ! "$objdump" -p "$dll" >"$out" 2>&1; then
    echo "FAIL: $objdump -p $dll did not run"; cat "$out"; exit 1
fi

# Exports: the name-pointer table lists "[ n] Name" lines.
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' "$out" | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort | tr '\n' ' ')
expected="DestroyObject GetClassNames GetClassObject SetPlatformCapabilities "
if [ "$exports" != "$expected" ]; then
    echo "FAIL: exports are '$exports', expected '$expected'"; fail=1
else
    echo "ok: exports $exports"
fi

# Imports: every DLL named must be a system library.
imports=$(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' "$out")
if [ -z "$imports" ]; then
    echo "FAIL: no import table found"; fail=1
fi
for name in $imports; do
    lower=$(echo "$name" | tr 'A-Z' 'a-z')
    case $lower in
    kernel32.dll|user32.dll|advapi32.dll|shell32.dll|ole32.dll|ws2_32.dll|winmm.dll|version.dll|\
    setupapi.dll|msvcrt.dll|gdi32.dll|comctl32.dll|api-ms-win-*)
        echo "ok: imports $name" ;;
    *)
        echo "FAIL: imports $name, which is not a Windows system library"; fail=1 ;;
    esac
done

# Version resource: the top (type) level of the resource directory has an entry of type 16
# (RT_VERSION); objdump indents each level one step further.
if sed -n '/Resource Directory/,$p' "$out" | grep -Eq '^[0-9a-f]+ {3}Entry: ID: 0x0*10,'; then
    echo "ok: version resource present"
else
    echo "FAIL: no version resource (type 16) in the resource directory"; fail=1
fi

exit $fail
