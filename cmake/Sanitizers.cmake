# Applies QELTBLE_SANITIZE to every target of the build.
if(QELTBLE_SANITIZE)
  set(_qeltble_sanitize_flags -fsanitize=${QELTBLE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_compile_options(${_qeltble_sanitize_flags})
  add_link_options(${_qeltble_sanitize_flags})
endif()
