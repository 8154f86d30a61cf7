#!/bin/sh
# SPDX-License-Identifier: MIT
# Writes the upstream tarball that the Debian source package is built from,
# koma_VERSION.orig.tar.xz, beside the source folder, where dpkg-source looks for it: the
# project's files without debian/, the same files that uscan's `git archive` of the release
# tag holds (debian/watch; .gitattributes leaves debian/ out of it), and the same bytes every
# time (names sorted, owner root, times the changelog's).
#   packaging/orig-tarball.sh [SOURCE_DIR]
set -eu
source_dir=$(cd "${1:-$(dirname "$0")/..}" && pwd)
cd "$source_dir"
version=$(dpkg-parsechangelog -S Version | sed 's/-[^-]*$//')
timestamp=$(dpkg-parsechangelog -S Timestamp)
tarball=$(dirname "$source_dir")/koma_$version.orig.tar.xz

# Everything in the folder but the packaging and the working folders: in a fresh clone, the
# files of its commit.
find . \( -path ./debian -o -path ./.git -o -path ./build -o -path ./out -o -path './obj-*' \) \
    -prune -o \( -type f -o -type l \) -printf '%P\0' |
    LC_ALL=C.UTF-8 tar --null -T - --sort=name --format=gnu \
    --mtime="@$timestamp" --owner=0 --group=0 --numeric-owner --mode=go=rX,u+rw \
    --transform="s,^,koma-$version/,S" -cf - | xz -6 >"$tarball"
echo "$tarball"
