# semilist_cpack_nsis_path(DIRECTORY <dir> [SCOPE SYSTEM|USER]
#                          [NAME <variable>] [OWNER <token>])
#
# Puts $INSTDIR\<dir> on an environment list, PATH by default, when CPack's
# NSIS installer has installed the files, and takes it off again when the
# uninstaller runs, through semilist.dll as an NSIS plugin. Each call adds
# to CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS, CPACK_NSIS_EXTRA_INSTALL_COMMANDS
# and CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS in the caller's scope, so call it
# where CPack is included, before include(CPack).
#
# The commands it adds hold no quote, backslash or ${: CPack writes them
# into its configuration as they stand without CPACK_VERBATIM_VARIABLES,
# and escaped with it, and only such text reads back the same either way.
# The NSIS code itself goes in a file of its own, one per call.
include_guard(GLOBAL)

function(semilist_cpack_nsis_path)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "DIRECTORY;SCOPE;NAME;OWNER" "")
  set(usage "semilist_cpack_nsis_path(DIRECTORY <dir> [SCOPE SYSTEM|USER] [NAME <variable>] [OWNER <token>])")
  if(arg_UNPARSED_ARGUMENTS OR arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "${usage}: unexpected or empty '${arg_UNPARSED_ARGUMENTS}${arg_KEYWORDS_MISSING_VALUES}'")
  endif()
  if(NOT DEFINED arg_DIRECTORY)
    message(FATAL_ERROR "${usage}: DIRECTORY, the folder inside the install folder, is required ('.' for the install folder itself)")
  endif()
  if(NOT DEFINED arg_SCOPE)
    set(arg_SCOPE SYSTEM)
  endif()
  if(arg_SCOPE STREQUAL "SYSTEM")
    set(switch /system)
    set(whose "system")
  elseif(arg_SCOPE STREQUAL "USER")
    set(switch /user)
    set(whose "user's")
  else()
    message(FATAL_ERROR "${usage}: SCOPE is SYSTEM or USER, not '${arg_SCOPE}'")
  endif()
  if(NOT DEFINED arg_NAME)
    set(arg_NAME PATH)
  endif()
  # The name the install and every later version's uninstall share, so that
  # an upgrade keeps the claim; CPack's own default is the project's name.
  if(NOT DEFINED arg_OWNER)
    if(CPACK_PACKAGE_NAME)
      set(arg_OWNER "${CPACK_PACKAGE_NAME}")
    else()
      set(arg_OWNER "${PROJECT_NAME}")
    endif()
  endif()
  _semilist_cpack_refuse_modify_path()

  # What NSIS or semilist's command line would read otherwise is refused.
  foreach(field DIRECTORY NAME OWNER)
    if(arg_${field} STREQUAL "" OR arg_${field} MATCHES "[\"'`$;\n\r]")
      message(FATAL_ERROR "${usage}: ${field} '${arg_${field}}' is empty or holds a quote, $, ; or a line break")
    endif()
  endforeach()
  if(arg_NAME MATCHES "[= \t]")
    message(FATAL_ERROR "${usage}: NAME '${arg_NAME}' is not an environment variable's name")
  endif()
  string(REPLACE "\\" "/" directory "${arg_DIRECTORY}")
  string(REGEX REPLACE "^(\\./)+|/+$" "" directory "${directory}")
  if(directory MATCHES "^/|:" OR "/${directory}/" MATCHES "/\\.\\./")
    message(FATAL_ERROR "${usage}: DIRECTORY '${arg_DIRECTORY}' must name a folder inside the install folder, relative to it")
  endif()
  if(directory STREQUAL "." OR directory STREQUAL "")
    set(item "$INSTDIR")
  else()
    string(REPLACE "/" "\\" directory "${directory}")
    set(item "$INSTDIR\\${directory}")
  endif()

  get_property(target GLOBAL PROPERTY _semilist_nsis_target)
  get_property(version GLOBAL PROPERTY _semilist_version)
  get_property(architecture GLOBAL PROPERTY _semilist_architecture)
  get_property(pointer_size GLOBAL PROPERTY _semilist_pointer_size)
  get_property(count GLOBAL PROPERTY _semilist_cpack_nsis_calls)
  if(NOT count)
    set(count 0)
  endif()
  math(EXPR count "${count} + 1")
  set_property(GLOBAL PROPERTY _semilist_cpack_nsis_calls ${count})
  if(count EQUAL 1)
    message(STATUS "semilist: CPack's NSIS installer calls the ${architecture} semilist.dll, which serves ${target} installers only")
  endif()
  set(script "${CMAKE_BINARY_DIR}/semilist-cpack/path-${count}.nsh")
  if(script MATCHES "[\"'`$\\\\]")
    message(FATAL_ERROR "semilist_cpack_nsis_path: the build folder's path, ${CMAKE_BINARY_DIR}, holds a quote, $ or backslash, which the installer's script cannot name")
  endif()
  get_filename_component(plugins "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../../.." ABSOLUTE)
  string(REPLACE "$" "$$" plugins "${plugins}")
  string(REPLACE "\"" "$\\\"" plugins "${plugins}")

  string(CONFIGURE [=[
; Written by semilist_cpack_nsis_path().
; The install puts @item@ on the @whose@ @arg_NAME@;
; the uninstall takes it off, if this install put it there.
!ifndef SEMILIST_CPACK_PLUGIN
  !define SEMILIST_CPACK_PLUGIN
  !ifndef NSIS_CHAR_SIZE
    !error "semilist: semilist.dll needs NSIS 3 or later, which builds Unicode installers."
  !endif
  !if ${NSIS_PTR_SIZE} != @pointer_size@
    !error "semilist: this installer is not @target@, and the @architecture@ semilist.dll serves only @target@ installers. An x86-unicode installer (CPack's default) needs semilist-@version@-win32.zip; an amd64-unicode one, semilist-@version@-win64.zip."
  !endif
  !if ${NSIS_CHAR_SIZE} != 2
    !error "semilist: semilist.dll serves Unicode installers only."
  !endif
  !addplugindir /@target@ "@plugins@"
  ; CMake's NSIS template, and the copies projects keep of it, end their
  ; uninstall by taking $INSTDIR\bin off PATH unless $DO_NOT_ADD_TO_PATH_
  ; is 1: a variable it never declares, so the test always fails, and a
  ; user's own entry goes even with CPACK_NSIS_MODIFY_PATH off. Declared
  ; here and set by the uninstall's removal, it leaves PATH to semilist.
  Var /GLOBAL DO_NOT_ADD_TO_PATH_
!endif

!macro semilist_cpack_append_@count@
  semilist::Run '/append @switch@ "@arg_NAME@" "@item@" "/owner:@arg_OWNER@"'
  Exch $0
  StrCmp $0 0 semilist_cpack_append_@count@_done
  StrCmp $0 6 0 semilist_cpack_append_@count@_failed
    ; The list would grow past what command prompts read, and they would
    ; drop it whole: nothing was changed. The install goes on.
    DetailPrint "semilist: @item@ was not added to the @whose@ @arg_NAME@, which would grow too long."
    MessageBox MB_OK|MB_ICONEXCLAMATION "@item@ was not added to the @whose@ @arg_NAME@: it would grow past what command prompts can read. Shorten it, or add the folder by hand." /SD IDOK
    Goto semilist_cpack_append_@count@_done
  semilist_cpack_append_@count@_failed:
    MessageBox MB_OK|MB_ICONSTOP "Could not add @item@ to the @whose@ @arg_NAME@: semilist /append ended with status $0." /SD IDOK
    Abort "semilist /append ended with status $0."
  semilist_cpack_append_@count@_done:
  Pop $0
!macroend

!macro semilist_cpack_remove_@count@
  StrCpy $DO_NOT_ADD_TO_PATH_ 1
  semilist::Run '/remove @switch@ "@arg_NAME@" "@item@" "/owner:@arg_OWNER@"'
  Exch $0
  ; An uninstall that stopped here would leave the files as well as the
  ; entry: it reports the failure and goes on.
  StrCmp $0 0 semilist_cpack_remove_@count@_done
    DetailPrint "semilist /remove ended with status $0: @item@ is still on the @whose@ @arg_NAME@."
    MessageBox MB_OK|MB_ICONEXCLAMATION "Could not remove @item@ from the @whose@ @arg_NAME@: semilist /remove ended with status $0. The uninstall goes on." /SD IDOK
  semilist_cpack_remove_@count@_done:
  Pop $0
!macroend
]=] nsis @ONLY)
  file(WRITE "${script}" "${nsis}")

  string(APPEND CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "\n!include '${script}'\n")
  string(APPEND CPACK_NSIS_EXTRA_INSTALL_COMMANDS
    "\n!insertmacro semilist_cpack_append_${count}\n")
  string(APPEND CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
    "\n!insertmacro semilist_cpack_remove_${count}\n")
  foreach(hook PREINSTALL INSTALL UNINSTALL)
    set(CPACK_NSIS_EXTRA_${hook}_COMMANDS
      "${CPACK_NSIS_EXTRA_${hook}_COMMANDS}" PARENT_SCOPE)
  endforeach()

  # A project may turn CPack's own editor on after this call; looked at
  # again once the top folder has been read.
  get_property(deferred GLOBAL PROPERTY _semilist_cpack_nsis_deferred)
  if(NOT deferred)
    set_property(GLOBAL PROPERTY _semilist_cpack_nsis_deferred TRUE)
    cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}"
                   CALL _semilist_cpack_refuse_modify_path)
  endif()
endfunction()

# CPack's own PATH editor, in the same installer, would undo this one's
# edits or be undone by them, and it replaces a PATH of more than 1,024
# characters with the new folder alone.
function(_semilist_cpack_refuse_modify_path)
  if(CPACK_NSIS_MODIFY_PATH)
    message(FATAL_ERROR "semilist_cpack_nsis_path: CPACK_NSIS_MODIFY_PATH is on, so CPack's own PATH editor would edit PATH in the same installer, and the two would undo each other; CPack's also replaces a PATH of more than 1,024 characters with the new folder alone. Turn CPACK_NSIS_MODIFY_PATH off: semilist_cpack_nsis_path puts the folder on PATH.")
  endif()
endfunction()
