#!/usr/bin/env bash
# wincheck.sh SOURCE_DIR BUILD_DIR FLAGS_FILE [SOURCE...]
# Compiles every Windows-built source of the client, the service and the shared layer with both mingw-w64
# compilers, and every resource script with windres. FLAGS_FILE (written by CMake) holds the definitions,
# warning options and include folders of the build's configuration targets. Any warning fails the check.
# Exit 0 when everything compiles cleanly, 1 when not, 77 (skipped) without the cross tools unless CI=true.
# SOURCE... (paths below SOURCE_DIR) limits the check to those files and scripts.
set -u
src=$1 build=$2 flagsfile=$3
shift 3

i686=i686-w64-mingw32-g++
x64=x86_64-w64-mingw32-g++
windres=i686-w64-mingw32-windres
missing=()
for tool in "$i686" "$x64" "$windres"; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "missing: ${missing[*]} (Debian packages g++-mingw-w64-i686, g++-mingw-w64-x86-64)"
    if [ "${CI:-}" = true ]; then
        echo "FAIL: the Windows compile check cannot be skipped under CI"
        exit 1
    fi
    exit 77
fi
if [ ! -r "$flagsfile" ]; then
    echo "FAIL: $flagsfile not found (configure the build first)"
    exit 1
fi

# Reads one section of the flags file, one value per line, without duplicates.
section() {
    awk -v want="[$1]" '/^\[/ { on = ($0 == want); next } on && NF { if (!seen[$0]++) print }' "$flagsfile"
}

common=(-std=c++17 -Werror -Wno-attributes)
while IFS= read -r d; do common+=("-D$d"); done < <(section definitions)
# Warnings only: the host build's other options (sanitizers) do not apply to the cross compilers.
while IFS= read -r o; do [[ $o == -W* && $o != -Werror* ]] && common+=("$o"); done < <(section options)
while IFS= read -r d; do common+=("-I$d"); done < <(section includes)
while IFS= read -r d; do common+=(-isystem "$d"); done < <(section system-includes)
# uic and moc output of every target
while IFS= read -r d; do common+=("-I$d"); done < <(find "$build" -type d -path '*_autogen/include' 2>/dev/null)

if [ $# -gt 0 ]; then
    files=() resources=()
    for f in "$@"; do [[ $f == *.rc ]] && resources+=("$f") || files+=("$f"); done
else
    mapfile -t files < <(cd "$src" && find client service common -name '*.cpp' ! -name '*_unix.cpp' | sort)
    mapfile -t resources < <(cd "$src" && find client service common -name '*.rc' | sort)
fi
if [ ${#files[@]} -eq 0 ] && [ ${#resources[@]} -eq 0 ]; then
    echo "FAIL: no sources found under $src"
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%s\n' "${common[@]}" >"$work/common.args"
# The Windows target: 32-bit x86 against Vista-level headers; x86-64 with the headers' defaults.
printf '%s\n' -D_WIN32_WINNT=0x0600 -DWINVER=0x0600 >"$work/i686.args"
: >"$work/x64.args"

export WINCHECK_SRC=$src WINCHECK_WORK=$work
check_one() {
    local cxx=$1 arch=$2 file=$3 out
    # The compiler reads its arguments from files: no quoting of definitions through the shell.
    out=$("$cxx" -fsyntax-only @"$WINCHECK_WORK/common.args" @"$WINCHECK_WORK/$arch.args" \
        "$WINCHECK_SRC/$file" 2>&1)
    if [ $? -ne 0 ] || [ -n "$out" ]; then
        printf 'FAIL (%s): %s\n%s\n' "$arch" "$file" "$(echo "$out" | head -40)"
        return 1
    fi
    return 0
}
export -f check_one

failed=0
jobs=$(nproc)
for pair in "$i686:i686" "$x64:x64"; do
    [ ${#files[@]} -eq 0 ] && break
    cxx=${pair%%:*} arch=${pair##*:}
    printf '%s\n' "${files[@]}" | xargs -P "$jobs" -I{} bash -c 'check_one "$0" "$1" "$2"' "$cxx" "$arch" {} ||
        failed=1
    echo "$cxx: checked ${#files[@]} sources"
done

rcflags=()
while IFS= read -r d; do rcflags+=("-D$d"); done < <(section resource-definitions)
for rc in "${resources[@]}"; do
    # The program icon is made by the build, in the build folder of the resources.
    out=$("$windres" -I"$src" -I"$build/client/resources" "${rcflags[@]}" -O coff -i "$src/$rc" -o "$work/resource.o" 2>&1)
    if [ $? -ne 0 ] || [ -n "$out" ]; then
        printf 'FAIL (windres): %s\n%s\n' "$rc" "$out"
        failed=1
    fi
done
echo "$windres: checked ${#resources[@]} resource scripts"
exit $failed
