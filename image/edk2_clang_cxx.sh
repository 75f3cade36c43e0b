#!/bin/sh
# The compiler EDK2's CLANGDWARF tool chain runs for SlotInventoryDxe
# (SlotInventoryDxe.inf names it): the tool chain's own clang, with the
# options for C++ translation units added for .cpp sources only. clang has no
# specs files to carry them as gcc does (image/edk2_cxx_options.gcc), and
# refuses them for the module's AutoGen.c, which is C.
for argument in "$@"; do
  case $argument in
    *.cpp) exec "${CLANG_BIN}clang" -std=gnu++20 -fno-exceptions -fno-rtti -fno-threadsafe-statics \
                -nostdinc++ "$@" ;;
  esac
done
exec "${CLANG_BIN}clang" "$@"
