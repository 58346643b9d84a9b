# Compile settings shared by every target of the project.
add_library(kv_options INTERFACE)
target_compile_options(kv_options INTERFACE -Wall -Wextra -Wpedantic)
if(KV_WERROR)
    target_compile_options(kv_options INTERFACE -Werror)
endif()
# GCC 12 at -O3 reports overlapping copies inside libstdc++'s string concatenation that cannot
# happen (GCC bug 105329); the warning stays on for every other compiler.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(kv_options INTERFACE -Wno-restrict)
endif()

if(KV_SANITIZE STREQUAL "address")
    target_compile_options(kv_options INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(kv_options INTERFACE -fsanitize=address,undefined)
elseif(KV_SANITIZE STREQUAL "thread")
    target_compile_options(kv_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(kv_options INTERFACE -fsanitize=thread)
elseif(NOT KV_SANITIZE STREQUAL "")
    message(FATAL_ERROR "KV_SANITIZE must be empty, 'address' or 'thread'")
endif()

# The sanitizer builds with clang also check the lock annotations (base/thread_annotations.hpp).
if(NOT KV_SANITIZE STREQUAL "" AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    target_compile_options(kv_options INTERFACE -Wthread-safety -Werror)
endif()

# Debug and sanitizer builds abort when a main-thread-only object is used from another thread
# (base/sequence_checker.hpp).
if(NOT KV_SANITIZE STREQUAL "" OR CMAKE_BUILD_TYPE STREQUAL "Debug")
    target_compile_definitions(kv_options INTERFACE KV_SEQUENCE_CHECKS)
endif()

if(KV_BUILD_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "The fuzz targets need clang (CXX=clang++)")
    endif()
    # Coverage for the fuzzer everywhere; the fuzz programs link libFuzzer's main.
    target_compile_options(kv_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

# kv_add_layer(NAME SOURCES... [DEPS ...]): one static library per subsystem,
# included as "name/header.hpp" from the src/ root.
function(kv_add_layer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(kv_${name} STATIC ${ARG_SOURCES})
    target_include_directories(kv_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(kv_${name} PUBLIC kv_options ${ARG_DEPS})
endfunction()
