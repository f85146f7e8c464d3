# The browser build (Debian's emscripten): the runtime and the stand-in on the
# web host, linked to ringscroller.js + .wasm with glimrotan.bmp and the font
# preloaded (.data), index.html beside them, and ringscroller.html, the same
# page with all of it inside, in build/web. Nothing is fetched: no emscripten
# ports, no CDN.

set(FONT_FILE /usr/share/fonts/truetype/lato/Lato-Black.ttf)
if(NOT EXISTS ${FONT_FILE})
  message(FATAL_ERROR "${FONT_FILE} is missing: install fonts-lato (scripts/setup)")
endif()
# stb_truetype (libstb-dev) is header-only; it is copied so that the rest of
# /usr/include stays out of a build against emscripten's own C library.
set(STB_TRUETYPE /usr/include/stb/stb_truetype.h)
if(NOT EXISTS ${STB_TRUETYPE})
  message(FATAL_ERROR "${STB_TRUETYPE} is missing: install libstb-dev (scripts/setup)")
endif()
set(STB_INCLUDE_DIR ${CMAKE_BINARY_DIR}/stb-include)
configure_file(${STB_TRUETYPE} ${STB_INCLUDE_DIR}/stb/stb_truetype.h COPYONLY)
# emscripten itself runs on Node.js; so does the one-file page's packer.
find_program(NODE_EXECUTABLE NAMES node nodejs REQUIRED)

# wasm SIMD for the rasteriser's vector kernels; no threads.
add_compile_options(-msimd128)

file(GLOB PLATFORM_SOURCES CONFIGURE_DEPENDS src/platform/*.cpp src/platform/host/*.cpp src/platform/host/web/*.cpp)
add_library(rs_platform STATIC ${PLATFORM_SOURCES})
target_include_directories(rs_platform PUBLIC src)
target_include_directories(rs_platform SYSTEM PRIVATE ${STB_INCLUDE_DIR})

add_library(rs_runtime STATIC ${RUNTIME_SOURCES})
target_include_directories(rs_runtime PUBLIC src)
target_link_libraries(rs_runtime PUBLIC rs_platform)

# The files the program reads sit beside it and are preloaded into its file
# system at the same paths.
set(WEB_DIR ${CMAKE_BINARY_DIR})
set(WEB_HOST_DIR ${CMAKE_SOURCE_DIR}/src/platform/host/web)
configure_file(${GLIMROTAN} ${WEB_DIR}/glimrotan.bmp COPYONLY)
configure_file(${FONT_FILE} ${WEB_DIR}/Lato-Black.ttf COPYONLY)
configure_file(${WEB_HOST_DIR}/index.html ${WEB_DIR}/index.html COPYONLY)

# The page starts the program itself (MODULARIZE: a factory, Ringscroller),
# once per play, handing it the compiled WebAssembly and the files it has
# fetched or unpacked.
add_executable(ringscroller src/core/entry.cpp)
target_link_libraries(ringscroller PRIVATE rs_runtime)
set_target_properties(ringscroller PROPERTIES SUFFIX ".js")
set(WEB_PRE_JS ${WEB_HOST_DIR}/pre.js ${WEB_HOST_DIR}/screen.js)
set_property(TARGET ringscroller APPEND PROPERTY LINK_DEPENDS ${WEB_PRE_JS})
# The rasteriser never waits for the page: left out of ASYNCIFY's
# instrumentation, it draws a frame about 0.05 ms sooner in the browser.
# Nor do the device calls every sprite makes (they allocate, and allocation
# counts as a possible wait): about 0.02 ms more.
target_link_options(ringscroller PRIVATE
  -sASYNCIFY -sASYNCIFY_STACK_SIZE=65536
  "-sASYNCIFY_REMOVE=[\"standin::DrawQueue::*\",\"standin::(anonymous namespace)::Add*\",\"(anonymous namespace)::Device::SetTexture*\",\"(anonymous namespace)::Device::DrawPrimitive*\"]"
  -sALLOW_MEMORY_GROWTH=1 -sEXIT_RUNTIME=1
  -sENVIRONMENT=web -sMODULARIZE=1 -sEXPORT_NAME=Ringscroller
  "SHELL:--pre-js ${WEB_HOST_DIR}/pre.js" "SHELL:--pre-js ${WEB_HOST_DIR}/screen.js"
  "SHELL:--preload-file ${WEB_DIR}/glimrotan.bmp@/glimrotan.bmp"
  "SHELL:--preload-file ${WEB_DIR}/Lato-Black.ttf@/Lato-Black.ttf")

add_custom_command(OUTPUT ${WEB_DIR}/ringscroller.html
  COMMAND ${NODE_EXECUTABLE} ${WEB_HOST_DIR}/one_file.mjs ${WEB_HOST_DIR}/index.html
          ${WEB_DIR}/ringscroller.js ${WEB_DIR}/ringscroller.wasm ${WEB_DIR}/ringscroller.data
          ${WEB_DIR}/ringscroller.html
  DEPENDS ringscroller ${WEB_HOST_DIR}/one_file.mjs ${WEB_HOST_DIR}/index.html
  COMMENT "The one-file page, ringscroller.html"
  VERBATIM)
add_custom_target(ringscroller-one-file ALL DEPENDS ${WEB_DIR}/ringscroller.html)
