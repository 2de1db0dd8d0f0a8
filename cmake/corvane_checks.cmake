# The two checking builds beside the default AddressSanitizer one: libFuzzer targets
# (clang only) and ThreadSanitizer. ThreadSanitizer cannot share a process with
# AddressSanitizer, and the fuzzing build brings its own sanitizer set, so neither goes
# with CORVANE_ENABLE_SANITIZERS.
option(CORVANE_ENABLE_FUZZING "Build the libFuzzer targets of tests/fuzz (clang only)" OFF)
option(CORVANE_ENABLE_TSAN "Build with ThreadSanitizer (excludes CORVANE_ENABLE_SANITIZERS)" OFF)

if(CORVANE_ENABLE_FUZZING AND CORVANE_ENABLE_TSAN)
  message(FATAL_ERROR "CORVANE_ENABLE_FUZZING and CORVANE_ENABLE_TSAN are separate builds")
endif()

if((CORVANE_ENABLE_FUZZING OR CORVANE_ENABLE_TSAN) AND CORVANE_ENABLE_SANITIZERS)
  message(FATAL_ERROR "CORVANE_ENABLE_FUZZING and CORVANE_ENABLE_TSAN bring their own sanitizers: "
                      "configure them with CORVANE_ENABLE_SANITIZERS=OFF")
endif()

if(CORVANE_ENABLE_FUZZING)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "CORVANE_ENABLE_FUZZING needs clang (e.g. CXX=clang++-14 CC=clang-14)")
  endif()
  # Every library gets the coverage hooks; only the fuzz targets link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(CORVANE_ENABLE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
