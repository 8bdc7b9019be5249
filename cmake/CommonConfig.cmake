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
