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

# Compiles target against the headers of these layers, and what they publish (include directories, definitions),
# without linking their code.
function(quelmar_compiles_against target)
    foreach(layer IN LISTS ARGN)
        target_include_directories(${target} PUBLIC $<TARGET_PROPERTY:${layer},INTERFACE_INCLUDE_DIRECTORIES>)
        target_compile_definitions(${target} PUBLIC $<TARGET_PROPERTY:${layer},INTERFACE_COMPILE_DEFINITIONS>)
    endforeach()
endfunction()

# An executable that opens the window module: it holds every layer whole and exports their symbols, which the module
# takes from it instead of carrying copies of its own.
set(QUELMAR_WINDOW_HOST_LAYERS quelmar_core quelmar_system quelmar_history quelmar_device quelmar_emulator
    quelmar_device_choice quelmar_update quelmar_install quelmar_controller)
# (Each archive once, ahead of the objects: CMake repeats archives on the link line, which whole would define twice.)
function(quelmar_hosts_window target)
    set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
    set(archives)
    foreach(layer IN LISTS QUELMAR_WINDOW_HOST_LAYERS)
        list(APPEND archives $<TARGET_FILE:${layer}>)
    endforeach()
    target_link_options(${target} PRIVATE LINKER:--whole-archive ${archives} LINKER:--no-whole-archive)
    target_link_libraries(${target} PRIVATE ${QUELMAR_WINDOW_HOST_LAYERS})
endfunction()
