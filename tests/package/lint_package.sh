#!/usr/bin/env bash
# Builds the Debian package from a configured build folder and checks it with lintian:
# no error may be reported, and the files Debian asks for must be in it.
# Usage: lint_package.sh BUILD_FOLDER. Exit status 77 when lintian is not installed.
set -euo pipefail
build=$(realpath "$1")
command -v lintian >/dev/null || { echo "SKIPPED: lintian is not installed (scripts/install-deps installs it)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
package=$(find "$work" -maxdepth 1 -name '*.deb' | head -n 1)
[ -n "$package" ] || { echo "no package was made"; cat "$work/cpack.log"; exit 1; }
status=0
listing=$(dpkg-deb -c "$package")
for file in ./usr/bin/quillfort ./usr/share/man/man1/quillfort.1.gz ./usr/share/doc/quillfort/copyright \
  ./usr/share/doc/quillfort/changelog.Debian.gz ./usr/share/bash-completion/completions/quillfort; do
  grep -q " $file\$" <<<"$listing" || { echo "missing from the package: $file"; status=1; }
done
# The changelog's newest entry is this version.
version=$(dpkg-deb -f "$package" Version)
changelog=$(dpkg-deb --fsys-tarfile "$package" | tar -xO ./usr/share/doc/quillfort/changelog.Debian.gz | gzip -dc)
[[ $changelog == "quillfort ($version) "* ]] || { echo "changelog.Debian does not begin with $version"; status=1; }
report=$(lintian --tag-display-limit 0 "$package" 2>&1 | grep -v 'running with root privileges' || true)
echo "$report"
grep -q '^E: ' <<<"$report" && status=1
echo "lintian on $(basename "$package"): $(grep -c '^E: ' <<<"$report" || true) errors," \
  "$(grep -c '^W: ' <<<"$report" || true) warnings"
exit "$status"
