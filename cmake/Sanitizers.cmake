# Applies QELTBLE_SANITIZE to every target of the build.
if(QELTBLE_BUILD_FUZZERS)
  # The library itself is instrumented for coverage and memory errors.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(QELTBLE_SANITIZE)
  set(_qeltble_sanitize_flags -fsanitize=${QELTBLE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_compile_options(${_qeltble_sanitize_flags})
  add_link_options(${_qeltble_sanitize_flags})
endif()
