# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# WebAssembly for WASI (wasm32-wasi), with Debian's clang 14: packages wasi-libc
# libc++-14-dev-wasm32 libc++abi-14-dev-wasm32 libclang-rt-14-dev-wasm32 lld-14.
# Debian puts the target's headers and libraries in the multiarch folders under
# /usr (/usr/include/wasm32-wasi, /usr/lib/wasm32-wasi), where clang looks for
# this target by itself: no --sysroot is needed, and --sysroot=/usr would put the
# host's libc++ headers in the search path.
set(CMAKE_SYSTEM_NAME WASI)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
# CMake has no platform file for WASI: ours, beside this file.
list(APPEND CMAKE_MODULE_PATH "${CMAKE_CURRENT_LIST_DIR}")

set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
# clang 14 has no exceptions for WebAssembly, and the wasm32 libc++ is built
# without them.
set(CMAKE_CXX_FLAGS_INIT -fno-exceptions)

# The tests start the program under Node, through harness/run-wasi, with the page's
# own glue, web/wasi.js.
get_filename_component(launcher "${CMAKE_CURRENT_LIST_DIR}/../harness/run-wasi" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${launcher}" CACHE FILEPATH
  "Command that runs a wasm32-wasi program")
