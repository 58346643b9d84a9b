# The build-time service address and home page checks (cmake/KorvaneSettings.cmake), run with
# cmake -P: what a self-hoster might type, and whether it is refused.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/KorvaneSettings.cmake)

set(accepted
    "https://api.korvane.app"
    "https://drafts.example.org:8443"
    "https://example.org/korvane/api")
set(refused
    "http://api.korvane.app"          # tokens would travel in clear
    "https://api.korvane.app/"        # paths are joined with "/"
    "https://example.org/api/"
    "api.korvane.app"
    "https://"
    "https:///path"
    "https://exa mple.org"
    "https://example.org/\"+x+\""     # would end the C++ string literal
    "https://example.org?x=1"
    "")
set(failures 0)
foreach(value IN LISTS accepted)
    kv_https_url_problem("${value}" problem)
    if(problem)
        message(SEND_ERROR "refused \"${value}\": ${problem}")
        math(EXPR failures "${failures} + 1")
    endif()
endforeach()
foreach(value IN LISTS refused)
    kv_https_url_problem("${value}" problem)
    if(NOT problem)
        message(SEND_ERROR "accepted \"${value}\"")
        math(EXPR failures "${failures} + 1")
    endif()
endforeach()
if(failures GREATER 0)
    message(FATAL_ERROR "${failures} settings judged wrongly")
endif()
