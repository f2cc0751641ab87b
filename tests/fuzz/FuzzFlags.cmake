# Flags of a fuzzing tree (-DQUARN_FUZZ=ON): every library is built with
# libFuzzer's coverage hooks and the address and undefined-behaviour
# sanitizers, so that the fuzz targets see into the code they drive. The
# targets themselves add -fsanitize=fuzzer for libFuzzer's main.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "QUARN_FUZZ needs clang: configure a separate tree with "
                      "CC=clang CXX=clang++ cmake -S . -B build-fuzz -DQUARN_FUZZ=ON")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                    -fno-omit-frame-pointer -g)
add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
