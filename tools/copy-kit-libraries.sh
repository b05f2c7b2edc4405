#!/usr/bin/env bash
# Copies the libraries a Windows or Web build links (tools/build-*-deps.sh's folder) into a kit's
# platform folder, so that the kit needs nothing of this machine's caches: pkg-config files find
# their prefix from where they lie, and no file keeps a path into the cache.
# Usage: tools/copy-kit-libraries.sh DEPS_FOLDER KIT_PLATFORM_FOLDER
set -euo pipefail
deps=$(cd "$1" && pwd)
into=$2
mkdir -p "$into"
for part in include lib share; do
  [[ -d $deps/$part ]] && cp -R "$deps/$part" "$into/"
done
# Leave out what a game never needs: the libraries' programs, manuals and docs.
rm -rf "$into/share/man" "$into/share/doc" "$into/share/aclocal"
# Files naming the cache are rewritten relative to where they lie (pkg-config files sit two
# folders down, in lib/pkgconfig or share/pkgconfig); any other is refused.
left=$(grep -rlF "$deps" "$into" || true)
for file in $left; do
  case $file in
    *.pc)
      sed -i "s|$deps|\${pcfiledir}/../..|g" "$file" ;;
    *.cmake)
      rel=$(realpath --relative-to="$(dirname "$file")" "$into")
      sed -i "s|$deps|\${CMAKE_CURRENT_LIST_DIR}/$rel|g" "$file" ;;
    *) echo "copy-kit-libraries: $file names the build cache $deps" >&2; exit 1 ;;
  esac
done
