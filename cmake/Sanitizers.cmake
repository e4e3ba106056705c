# KV58_SANITIZE=ON builds everything with AddressSanitizer and UndefinedBehaviorSanitizer.
# Any finding aborts the process, so a test with a finding fails.
option(KV58_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(KV58_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
