#!/bin/sh
# The manual pages render at 80 columns without a single warning.
# Usage: man_pages_test.sh PAGE...   (exit 77: man is not installed)
set -u
command -v man >/dev/null 2>&1 || { echo "man_pages_test: man is not installed, skipped"; exit 77; }
status=0
for page in "$@"; do
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then
        echo "man_pages_test: $page:" >&2
        echo "$warnings" >&2
        status=1
    fi
    # The page must have rendered to something with its NAME section.
    MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q '^NAME' ||
        { echo "man_pages_test: $page did not render" >&2; status=1; }
done
[ $status -eq 0 ] && echo "man_pages_test: ok"
exit $status
