# AddressSanitizer + UndefinedBehaviorSanitizer for the whole build (CI runs the tests this way).
option(DAZOROZ_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(DAZOROZ_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

# Any report ends the test process with a failure.
set(DAZOROZ_SANITIZER_ENV
    "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/cmake/lsan.supp:print_suppressions=0")
