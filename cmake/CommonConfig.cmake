# Settings every target of the project shares: language level, warnings
# (as errors with TALLIVO_WERROR), strict Qt defines, and the optional
# sanitizer build.
add_library(tallivo_common INTERFACE)
target_compile_features(tallivo_common INTERFACE cxx_std_20)
target_compile_options(tallivo_common INTERFACE -Wall -Wextra)
if(TALLIVO_WERROR)
    target_compile_options(tallivo_common INTERFACE -Werror)
endif()
target_compile_definitions(tallivo_common INTERFACE
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_KEYWORDS
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_URL_CAST_FROM_STRING
    TALLIVO_NAME="${PROJECT_NAME}"
    TALLIVO_VERSION="${PROJECT_VERSION}"
    TALLIVO_DISPLAY_NAME="Tallivo")
# Hardened as Debian hardens its packages, in every build type: the
# programs read customers' files. _FORTIFY_SOURCE needs optimisation (glibc
# warns without it) and hides from the sanitizers the calls they check, so
# only optimised builds without a sanitizer get it.
target_compile_options(tallivo_common INTERFACE -fstack-protector-strong)
target_link_options(tallivo_common INTERFACE LINKER:-z,relro,-z,now)
set(TALLIVO_FORTIFY OFF)
if(NOT TALLIVO_SANITIZE AND NOT TALLIVO_TSAN AND NOT TALLIVO_BUILD_FUZZ)
    set(TALLIVO_FORTIFY ON)
    target_compile_definitions(tallivo_common INTERFACE $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
endif()
if(TALLIVO_SANITIZE)
    # GCC leaves float-to-int overflow out of "undefined"; clang has it in.
    target_compile_options(tallivo_common INTERFACE
        -fsanitize=address,undefined,float-cast-overflow -fno-omit-frame-pointer
        -fno-sanitize-recover=undefined,float-cast-overflow)
    target_link_options(tallivo_common INTERFACE -fsanitize=address,undefined,float-cast-overflow)
endif()
# The fuzz build: libFuzzer's coverage and the sanitizers on all of our code.
if(TALLIVO_BUILD_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(tallivo_common INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
        -fno-sanitize-recover=undefined)
    target_link_options(tallivo_common INTERFACE -fsanitize=address,undefined)
endif()
if(TALLIVO_TSAN)
    target_compile_options(tallivo_common INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(tallivo_common INTERFACE -fsanitize=thread)
endif()
