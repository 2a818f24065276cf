# One place for the warning set; every target of ours links dazoroz_warnings.
option(DAZOROZ_WERROR "Treat compiler warnings as errors" OFF)

add_library(dazoroz_warnings INTERFACE)
target_compile_options(dazoroz_warnings INTERFACE
    -Wall -Wextra -Wpedantic
    -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wunused
    -Woverloaded-virtual -Wconversion -Wsign-conversion -Wnull-dereference
    -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough
    -Wmisleading-indentation -Wduplicated-cond -Wduplicated-branches -Wlogical-op
    $<$<BOOL:${DAZOROZ_WERROR}>:-Werror>)
