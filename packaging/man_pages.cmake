# Man pages: the window's and the simulator's written by hand (the window takes no options;
# the simulator's --help holds examples that help2man cannot lay out), the command-line
# program's made by help2man from its --help. Each carries the section on serial ports on
# Linux from serial-ports.h2m. Built as man/*.1.gz and installed to man1.

set(KV58_MAN_DIR ${CMAKE_CURRENT_BINARY_DIR}/man)
set(serial_ports_include ${linux}/serial-ports.h2m)

# The hand-written pages, with the section pasted in from the help2man include file.
file(READ ${serial_ports_include} serial_ports_text)
string(REGEX REPLACE "^.*\\[SERIAL PORTS ON LINUX\\]\n" "" KV58_SERIAL_PORTS_SECTION "${serial_ports_text}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${serial_ports_include})
set(KV58_SEE_ALSO_KV58 "")
if(TARGET kv58)
  set(KV58_SEE_ALSO_KV58 ",\n.BR kv58 (1)")
endif()
set(man_pages)
foreach(program kv58-controller kv58-sim)
  configure_file(${linux}/${program}.1.in ${KV58_MAN_DIR}/${program}.1 @ONLY)
  list(APPEND man_pages ${KV58_MAN_DIR}/${program}.1)
endforeach()

if(TARGET kv58)
  find_program(KV58_HELP2MAN help2man)
  if(KV58_HELP2MAN)
    add_custom_command(OUTPUT ${KV58_MAN_DIR}/kv58.1
      COMMAND ${KV58_HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
        "--name=drive the KV-58 scrolling text display from the command line"
        --include=${serial_ports_include} --output=${KV58_MAN_DIR}/kv58.1 $<TARGET_FILE:kv58>
      DEPENDS kv58 ${serial_ports_include}
      VERBATIM)
    list(APPEND man_pages ${KV58_MAN_DIR}/kv58.1)
  else()
    message(WARNING "help2man not found: no man page for kv58 (install Debian's help2man)")
  endif()
endif()

foreach(page IN LISTS man_pages)
  kv58_gzip(${page})
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
