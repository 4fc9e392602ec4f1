# Project-wide compile settings, applied through targets so that system headers keep their own rules.

add_library(quelmar_options INTERFACE)
target_compile_options(quelmar_options INTERFACE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wimplicit-fallthrough
    -Wcast-qual -Wformat=2 -Wundef)

if(QUELMAR_SANITIZE AND QUELMAR_THREAD_SANITIZE)
    message(FATAL_ERROR "QUELMAR_SANITIZE and QUELMAR_THREAD_SANITIZE exclude each other: use two build directories")
endif()
# Sanitizers are global, so that every target and the test binaries share one runtime.
if(QUELMAR_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
if(QUELMAR_THREAD_SANITIZE)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()
if(QUELMAR_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "QUELMAR_FUZZ needs clang and its fuzzer runtime: CC=clang CXX=clang++ (scripts/fuzz)")
    endif()
    # Everything carries the fuzzer's coverage; only the fuzz targets link its main (fuzz/CMakeLists.txt).
    add_compile_options(-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined
        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# Adds a static library for one layer with the project's options.
function(quelmar_layer name)
    add_library(${name} STATIC ${ARGN})
    target_link_libraries(${name} PRIVATE quelmar_options)
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()
