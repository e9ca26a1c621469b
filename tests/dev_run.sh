#!/usr/bin/env bash
# ./dev run reads and writes the host's files outside the repository, as the
# user's shell names them: relative and absolute paths, from a current
# directory that is not the repository, in arguments and in a script's own
# code. Run by ./dev test on the host, which has the roots.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/pydrel-dev-run.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/a/b"
cd "$work/a/b"
"$repo/dev" run python -c 'import pydrel; p = pydrel.Protocol(); p.save("here.drel"); p.save("../up.drel")'
[ -f here.drel ] && [ -f ../up.drel ] || { echo "./dev run wrote elsewhere than the host's $work/a" >&2; exit 1; }
"$repo/dev" run drel check here.drel ../up.drel "$work/a/up.drel"
"$repo/dev" run drel plot ../up.drel -o "$work/picture.svg"
grep -q "^<svg " "$work/picture.svg" || { echo "./dev run drel plot wrote no picture to $work" >&2; exit 1; }
echo "./dev run: the host's files outside the repository, read and written"
