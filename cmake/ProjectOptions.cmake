# Project-wide compile settings, applied through targets so that system headers keep their own rules.

add_library(quelmar_options INTERFACE)
target_compile_options(quelmar_options INTERFACE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wimplicit-fallthrough
    -Wcast-qual -Wformat=2 -Wundef)

if(QUELMAR_SANITIZE)
    # Global, so that every target and the test binaries share one runtime.
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# Adds a static library for one layer with the project's options.
function(quelmar_layer name)
    add_library(${name} STATIC ${ARGN})
    target_link_libraries(${name} PRIVATE quelmar_options)
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()
