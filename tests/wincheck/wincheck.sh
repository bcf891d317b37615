#!/usr/bin/env bash
# wincheck.sh SOURCE_DIR BUILD_DIR QT_INCLUDE_PATH(colon separated)
# Exit 0 when every source compiles for Windows, 1 when one does not, 77 (skipped) without the compiler.
set -u
src=$1 build=$2 qtpath=$3
compilers=(i686-w64-mingw32-g++ x86_64-w64-mingw32-g++)
for cxx in "${compilers[@]}"; do
    if ! command -v "$cxx" >/dev/null 2>&1; then
        echo "SKIP: $cxx not installed (Debian package g++-mingw-w64-i686 / g++-mingw-w64-x86-64)"
        exit 77
    fi
done

flags=(-fsyntax-only -std=c++17 -Wall -Wextra -Wno-attributes -D_WIN32_WINNT=0x0600 -DWINVER=0x0600
       -DUNICODE -D_UNICODE -DQT_NO_NARROWING_CONVERSIONS_IN_CONNECT -DQT_DISABLE_DEPRECATED_BEFORE=0x050F00
       -DQT_NO_FOREACH -I"$src" -I"$src/client" -I"$build/generated")
IFS=: read -ra qtdirs <<<"$qtpath"
for d in "${qtdirs[@]}"; do flags+=(-isystem "$d"); done
# uic and moc output of every target
while IFS= read -r d; do flags+=(-I"$d"); done < <(find "$build" -type d -path '*_autogen/include' 2>/dev/null)

mapfile -t files < <(cd "$src" && find client service common -name '*.cpp' ! -name '*_unix.cpp' | sort)
if [ ${#files[@]} -eq 0 ]; then
    echo "no sources found under $src"
    exit 1
fi

# One job per source and compiler, on every core.
export WINCHECK_SRC=$src
export WINCHECK_FLAGS
WINCHECK_FLAGS=$(printf '%q ' "${flags[@]}")
check_one() {
    local cxx=$1 file=$2 out
    out=$(eval "$cxx $WINCHECK_FLAGS \"\$WINCHECK_SRC/$file\"" 2>&1)
    if [ $? -ne 0 ]; then
        printf 'FAIL (%s): %s\n%s\n' "$cxx" "$file" "$(echo "$out" | head -40)"
        return 1
    fi
    [ -z "$out" ] || printf 'WARN (%s): %s\n%s\n' "$cxx" "$file" "$(echo "$out" | head -20)"
    return 0
}
export -f check_one
failed=0
# Every source with the 32-bit compiler of the Windows target; the Windows backends with the 64-bit one too.
winfiles=()
for f in "${files[@]}"; do [[ $f == *_win.cpp ]] && winfiles+=("$f"); done
run_all() {
    local cxx=$1; shift
    [ $# -eq 0 ] && return 0
    printf '%s\n' "$@" | xargs -P "$(nproc)" -I{} bash -c 'check_one "$0" "$1"' "$cxx" {} || failed=1
    echo "$cxx: checked $# sources"
}
run_all i686-w64-mingw32-g++ "${files[@]}"
run_all x86_64-w64-mingw32-g++ "${winfiles[@]}"
exit $failed
