#!/usr/bin/env bash
# Installs the Debian packages named, as root. A mirror caught mid-sync can
# fail one index of `apt-get update` (a size or hash mismatch) while the
# rest is good, so the update is tried a few times and then, if one index
# still fails, the install goes on with what was fetched: only a package
# that cannot be installed fails the step.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive
for attempt in 1 2 3; do
    if apt-get update -q; then
        break
    fi
    if [ "$attempt" -eq 3 ]; then
        echo "apt-install: some package indexes could not be fetched; installing from those that were" >&2
    else
        sleep $((attempt * 10))
    fi
done
for attempt in 1 2 3; do
    if apt-get install -y -q --no-install-recommends "$@"; then
        exit 0
    fi
    [ "$attempt" -eq 3 ] || { sleep $((attempt * 10)); apt-get update -q || true; }
done
echo "apt-install: could not install $*" >&2
exit 1
