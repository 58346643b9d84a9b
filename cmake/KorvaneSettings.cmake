# Build-time settings of the program itself, for those who run their own service: the service a
# packaged build talks to and the home page it names. A packaged build never reads the service
# address from the environment, so these are the only way to point it elsewhere.
set(KV_DEFAULT_API_BASE "https://api.korvane.app" CACHE STRING
    "The service's base URL built into the program (https, no trailing /)")
set(KV_HOME_PAGE "https://korvane.app" CACHE STRING
    "The program's home page, named in its User-Agent (https, no trailing /)")

# kv_https_url_problem(VALUE OUT): why VALUE cannot be built in as a service address or home
# page, in OUT; empty when it can. Tokens travel to that address, so it must be https; it is
# joined to paths with "/", so it must not end with one; and it becomes a C++ string literal.
function(kv_https_url_problem value out)
    set(problem "")
    if(NOT value MATCHES "^https://")
        set(problem "must start with https://")
    elseif(NOT value MATCHES "^https://[A-Za-z0-9.-]+(:[0-9]+)?(/[A-Za-z0-9._~%/-]*)?$")
        set(problem "must be https://HOST[:PORT][/PATH] with no spaces, quotes or query")
    elseif(value MATCHES "/$")
        set(problem "must not end with /")
    endif()
    set(${out} "${problem}" PARENT_SCOPE)
endfunction()

# Stops the configuration with a clear message when a setting is unusable.
function(kv_check_https_setting name)
    kv_https_url_problem("${${name}}" problem)
    if(problem)
        message(FATAL_ERROR "${name}=\"${${name}}\" ${problem}")
    endif()
endfunction()
