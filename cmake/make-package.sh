#!/usr/bin/env bash
# Makes the distribution ZIP of a built 32-bit tree so that the same sources give the same bytes,
# in any folder, at any time, for any user (the "package" target runs it; docs/release.md):
#   cmake/make-package.sh BUILD_DIR SOURCE_DIR PACKAGE_NAME STRIP
# Writes BUILD_DIR/PACKAGE_NAME.zip and BUILD_DIR/SHA256SUMS (the ZIP and every file in it), and
# leaves the unpacked package in BUILD_DIR/package/PACKAGE_NAME.
#
# The one time stamp, SOURCE_DATE_EPOCH (seconds since 1970), is the source's own:
#   - taken from the environment when it is set there;
#   - else the commit's time (git log -1 --format=%ct) where SOURCE_DIR is a git checkout;
#   - else the newest modification time of a file in SOURCE_DIR (build/ left out): for sources
#     unpacked from an archive that keeps times (git archive writes the commit's), that is
#     the source's time again.
# It becomes the PE time stamp of every shipped program (strip writes it) and the time of every
# ZIP entry. Nothing else of the machine gets in: entries are sorted bytewise, have fixed
# permissions and no owner, access or change times (zip -X), and their DOS times are written
# in UTC.
set -euo pipefail
build=${1:?usage: make-package.sh BUILD_DIR SOURCE_DIR PACKAGE_NAME STRIP}
source_dir=${2:?}
name=${3:?}
strip=${4:?}
command -v zip >/dev/null || { echo "make-package: zip (Info-ZIP) is not installed; scripts/setup.sh installs it" >&2; exit 1; }

if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  from="SOURCE_DATE_EPOCH from the environment"
elif [ "$(git -C "$source_dir" rev-parse --show-toplevel 2>/dev/null)" = "$(cd "$source_dir" && pwd -P)" ] &&
     SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null) && [ -n "$SOURCE_DATE_EPOCH" ]; then
  from="the time of commit $(git -C "$source_dir" rev-parse --short HEAD)"
  if [ -n "$(git -C "$source_dir" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
    from="$from (the working tree has changes that are not committed: this package is not that commit's)"
  fi
else
  SOURCE_DATE_EPOCH=$(find "$source_dir" \( -path "$source_dir/build" -o -name .git \) -prune -o \
                        -type f -printf '%T@\n' | sort -n | tail -n1)
  SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH%.*}
  from="the newest source file (no git checkout; set SOURCE_DATE_EPOCH to choose the time)"
fi
case "$SOURCE_DATE_EPOCH" in
  ''|*[!0-9]*) echo "make-package: SOURCE_DATE_EPOCH must be a number of seconds, not '$SOURCE_DATE_EPOCH'" >&2; exit 1 ;;
esac
# Before 1980 a ZIP cannot say (DOS times start there).
[ "$SOURCE_DATE_EPOCH" -ge 315532800 ] || SOURCE_DATE_EPOCH=315532800
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
echo "make-package: time stamp $(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC'), $from"

stage=$build/package
rm -rf "$stage"
mkdir -p "$stage"
cmake --install "$build" --prefix "$stage/$name" >/dev/null
# Stripping writes the PE header's time stamp: SOURCE_DATE_EPOCH, exported above.
find "$stage/$name" -type f \( -iname '*.dll' -o -iname '*.exe' \) -exec "$strip" {} \;
find "$stage" -type d -exec chmod 755 {} +
find "$stage" -type f -exec chmod 644 {} +
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

zip_file=$build/$name.zip
rm -f "$zip_file" "$zip_file.tmp"
(cd "$stage" && find "$name" -type f | sort) >"$build/package-files.txt"
# -X: no owner or extra times; -D: no folder entries (unpacking makes the folders).
(cd "$stage" && zip -X -D -q "$zip_file.tmp" -@ <"$build/package-files.txt")
touch -d "@$SOURCE_DATE_EPOCH" "$zip_file.tmp"
mv "$zip_file.tmp" "$zip_file"

# The ZIP first, then every file in it, as sha256sum writes them ("HASH  PATH").
{
  (cd "$build" && sha256sum "$name.zip")
  (cd "$stage" && tr '\n' '\0' <"$build/package-files.txt" | xargs -0 sha256sum)
} >"$build/SHA256SUMS.tmp"
mv "$build/SHA256SUMS.tmp" "$build/SHA256SUMS"
rm -f "$build/package-files.txt"
echo "make-package: $zip_file ($(wc -c <"$zip_file") bytes), $build/SHA256SUMS"
