# SPDX-License-Identifier: MIT
# Read by cpack itself, once for each generator, before anything is archived; so it holds for
# `cpack -G DEB` typed in a build folder as much as for the package test.
#
# The archiver turns each file name into the locale's character set, and in the POSIX locale of
# a minimal system or container it cannot take "一等賞.wav". It reads the locale afresh for every
# file, so from here on it works in C.UTF-8, which every Debian system has.
set(ENV{LC_ALL} C.UTF-8)
