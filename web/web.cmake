# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# The web build (cmake/wasm32-wasi.cmake), included by the top CMakeLists.txt: the
# program as a WebAssembly module for WASI, made able to wait for input without
# blocking a page, and gradebook.html, one page that holds it with the script that
# runs it.
find_program(WASM_OPT wasm-opt)
find_program(NODE_EXECUTABLE node)
find_program(GZIP gzip)
if(NOT WASM_OPT OR NOT NODE_EXECUTABLE OR NOT GZIP)
  message(FATAL_ERROR "The web build needs wasm-opt (package binaryen), node "
    "(package nodejs) and gzip")
endif()

# The memory below the program's data, which neither its stack nor its allocator
# ever use, holds what the page keeps in memory while the program waits: its call
# stack as Asyncify saves it. Space the allocator may later hand out would be
# overwritten once the grade list grows.
target_link_options(gradebook PRIVATE -Wl,--global-base=16384 -Wl,--export=__global_base)
# No build folder in the module.
target_compile_options(gradebook PRIVATE -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=)

# clang runs wasm-opt on the module it links when it optimises and finds one, and
# that drops the functions' names, which the lists below go by: the link does not
# optimise, wasm-opt does, below. (The last -O wins.)
target_link_options(gradebook PRIVATE -O0)

# Asyncify lets a read of standard input (fd_read, the one import that waits) unwind
# the program's stack and rewind it once the page has input. Only the functions
# that can be on the stack then are made able to (web/read-path.txt): every other
# one would cost size and time for nothing. Then optimised for size, and without
# names or debugging sections. The tests run this module, the one in the page, and
# the same with Asyncify's asserts, which trap when any other function is on the
# stack as it unwinds; the linked module stays for the check of the list.
set(read_path ${CMAKE_CURRENT_LIST_DIR}/read-path.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${read_path})
file(STRINGS ${read_path} read_path_functions REGEX "^[^#-]")
list(JOIN read_path_functions "," read_path_functions)
set(asyncify --asyncify --pass-arg=asyncify-imports@wasi_snapshot_preview1.fd_read
  "--pass-arg=asyncify-onlylist@${read_path_functions}")
# No import or export carries a 64-bit integer, which engines before BigInt cannot
# pass to JavaScript: fd_seek's offset comes as two 32-bit halves.
set(legalize --legalize-js-interface)
set(linked ${PROJECT_BINARY_DIR}/gradebook-linked.wasm)
set(asserts ${PROJECT_BINARY_DIR}/gradebook-asserts.wasm)
add_custom_command(TARGET gradebook POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:gradebook> ${linked}
  COMMAND ${WASM_OPT} ${linked} -o $<TARGET_FILE:gradebook> ${legalize} ${asyncify}
    -Oz --strip-debug --strip-producers
  COMMAND ${WASM_OPT} ${linked} -o ${asserts} ${legalize} ${asyncify}
    --pass-arg=asyncify-asserts -Oz --strip-debug --strip-producers
  VERBATIM)
set_property(TARGET gradebook APPEND PROPERTY ADDITIONAL_CLEAN_FILES ${linked} ${asserts})

# The page holds the module gzip'd, which takes a third of its size: gzip's own
# deflate, stored without a name or a time, gives the same bytes everywhere.
set(page ${PROJECT_BINARY_DIR}/gradebook.html)
set(parts assemble.mjs page.html inflate.js wasi.js page.js)
list(TRANSFORM parts PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
add_custom_command(OUTPUT ${page}
  COMMAND ${GZIP} -9 -n -k -f $<TARGET_FILE:gradebook>
  COMMAND ${NODE_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/assemble.mjs
    $<TARGET_FILE:gradebook>.gz ${CMAKE_CURRENT_LIST_DIR} ${page}
  DEPENDS gradebook ${parts}
  VERBATIM)
# The site's files are made from the page's: only this target makes it, and the
# site waits for it, or a parallel build would make it twice at once.
add_custom_target(page ALL DEPENDS ${page})

# The site: the page as index.html with a web app manifest, icons and a service
# worker, for any static web server; build-web/site/. The worker's cache is named
# after the project's version and lists every file of the site.
find_program(RSVG_CONVERT rsvg-convert)
if(NOT RSVG_CONVERT)
  message(FATAL_ERROR "The web build's site needs rsvg-convert (package librsvg2-bin)")
endif()
set(site ${PROJECT_BINARY_DIR}/site)
# Each icon: name, size in pixels, and a background for those that must fill their
# square (a maskable icon, and the one iOS rounds itself); the others keep the
# picture's rounded corners.
set(icons icon-192.png:192: icon-512.png:512: "icon-maskable-512.png:512:#1d4e89"
  "apple-touch-icon.png:180:#1d4e89")
set(site_files index.html manifest.webmanifest)
set(icon_commands "")
foreach(icon ${icons})
  string(REPLACE ":" ";" icon ${icon})
  list(GET icon 0 name)
  list(GET icon 1 size)
  list(GET icon 2 background)
  set(background_option "")
  if(background)
    set(background_option --background-color=${background})
  endif()
  list(APPEND site_files ${name})
  list(APPEND icon_commands COMMAND ${RSVG_CONVERT} --width=${size} --height=${size}
    ${background_option} --output=${site}/${name} ${CMAKE_CURRENT_LIST_DIR}/icon.svg)
endforeach()
list(TRANSFORM site_files REPLACE "(.+)" "\"\\1\"" OUTPUT_VARIABLE quoted)
list(PREPEND quoted "\"./\"")
list(JOIN quoted ", " SITE_FILES)
configure_file(${CMAKE_CURRENT_LIST_DIR}/sw.js.in ${site}/sw.js @ONLY)
list(TRANSFORM site_files PREPEND ${site}/ OUTPUT_VARIABLE site_outputs)
add_custom_command(OUTPUT ${site_outputs}
  COMMAND ${CMAKE_COMMAND} -E copy ${page} ${site}/index.html
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/manifest.webmanifest ${site}/
  ${icon_commands}
  DEPENDS ${page} ${CMAKE_CURRENT_LIST_DIR}/manifest.webmanifest
    ${CMAKE_CURRENT_LIST_DIR}/icon.svg
  VERBATIM)
add_custom_target(site ALL DEPENDS ${site_outputs})
add_dependencies(site page)
