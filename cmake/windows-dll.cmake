# vekr_windows_dll(<target> <dll name> <def file> <description>)
#
# Gives a shared library target its Windows form: the file <dll name>.dll,
# exports under their plain names (the 32-bit __stdcall decorations "@N"
# are dropped from the export table with --kill-at, as callers that look a
# function up by name expect), an import library made from the .def file so
# that programs compiled against the headers (which reference the decorated
# names) link against the DLL, and a version resource.
#
# The .def file lists the decorated 32-bit names; for 64-bit Windows, which
# has no decorations, they are stripped here.
function(vekr_windows_dll target dll_name def_file description)
  file(READ ${def_file} def_text)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    string(REGEX REPLACE "@[0-9]+" "" def_text "${def_text}")
  endif()
  string(REPLACE "@VEKR_DLL_NAME@" "${dll_name}.dll" def_text "${def_text}")
  set(def_out ${CMAKE_CURRENT_BINARY_DIR}/${dll_name}.def)
  file(CONFIGURE OUTPUT ${def_out} CONTENT "${def_text}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def_file})

  set(VEKR_RC_FILE_NAME "${dll_name}.dll")
  set(VEKR_RC_INTERNAL_NAME "${dll_name}")
  set(VEKR_RC_DESCRIPTION "${description}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in
    ${CMAKE_CURRENT_BINARY_DIR}/${dll_name}.rc @ONLY)

  target_sources(${target} PRIVATE ${def_out} ${CMAKE_CURRENT_BINARY_DIR}/${dll_name}.rc)
  set_target_properties(${target} PROPERTIES
    PREFIX "" OUTPUT_NAME ${dll_name} IMPORT_PREFIX "lib" IMPORT_SUFFIX ".dll.a")
  target_link_options(${target} PRIVATE "LINKER:--kill-at")
  # The linker's own import library would name the killed (plain) symbols,
  # which no caller compiled against the headers references; dlltool makes
  # one that binds the decorated names to the plain exports.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${def_out} --dllname ${dll_name}.dll
      --output-lib $<TARGET_LINKER_FILE:${target}>
    VERBATIM)
endfunction()
