#!/usr/bin/env bash
# The test of the gcc build: replays every fuzz corpus in the clang tree and, under CI=true, fuzzes each
# harness briefly. Without clang it is skipped (77), except under CI=true, where that is a failure.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
if ! command -v clang++ >/dev/null 2>&1; then
    if [ "${CI:-}" = true ]; then
        echo "clang++ not found: the fuzz harnesses cannot be built (scripts/deps installs clang)" >&2
        exit 1
    fi
    echo "clang++ not found: fuzz harnesses skipped (scripts/deps installs clang)"
    exit 77
fi
"$root/scripts/fuzz" --replay || exit 1
if [ "${CI:-}" = true ]; then
    "$root/scripts/fuzz" "${TOVRA_CI_FUZZ_SECONDS:-12}" || exit 1
fi
exit 0
