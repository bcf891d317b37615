#!/usr/bin/env bash
# translations_complete.sh LUPDATE SOURCE_DIR: fails when lupdate over the client's sources leaves an
# unfinished or obsolete entry in a translation file.
set -euo pipefail
lupdate=$1 src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
for ts in "$src"/client/resources/language/*.ts; do
    copy="$tmp/$(basename "$ts")"
    cp "$ts" "$copy"
    # Without -no-obsolete, so texts gone from the sources stay as vanished entries and show up here.
    "$lupdate" -locations none "$src/client" -ts "$copy" >/dev/null
    if grep -n -B3 -E 'type="(unfinished|vanished|obsolete)"' "$copy"; then
        echo "$(basename "$ts"): the entries above are untranslated or no longer in the sources"
        status=1
    fi
done
exit $status
