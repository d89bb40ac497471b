# Settings every target of the project's own shares: warnings are errors in
# both builds, and Windows programs are linked statically so that they import
# system DLLs only.
function(semilist_defaults target)
  target_compile_features(${target} PRIVATE cxx_std_17)
  set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  if(WIN32)
    target_compile_definitions(${target} PRIVATE
      UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
    # Unused runtime code is dropped section by section.
    target_compile_options(${target} PRIVATE
      -ffunction-sections -fdata-sections)
    target_link_options(${target} PRIVATE -static -Wl,--gc-sections)
    # The same commit builds the same bytes anywhere: no link time in the PE
    # header, and no clone's path in what __FILE__ gives GoogleTest.
    target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
    target_compile_options(${target} PRIVATE
      -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=)
  endif()
endfunction()

# Host builds run under AddressSanitizer and UndefinedBehaviorSanitizer, and
# any finding fails the test.
option(SEMILIST_SANITIZE "Build with ASan and UBSan" OFF)
if(SEMILIST_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# The fuzz build instruments everything for libFuzzer's coverage feedback.
option(SEMILIST_FUZZ "Build only the libFuzzer target (needs clang)" OFF)
if(SEMILIST_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

option(SEMILIST_BENCH "Build the list benchmark instead of the tests" OFF)
