# The package script of CPack's External generator for Tessel Install: makes one setup.exe of
# the staged install tree with ffspack. Without CPACK_TESSEL_SCRIPT it writes the setup's script
# from the CPack variables; TesselConfig.cmake beside it sets the generator up for a project.
# Runs inside `cpack -G External` (CPACK_EXTERNAL_PACKAGE_SCRIPT), never at configure time.
cmake_minimum_required(VERSION 3.20) # cmake_path; CPACK_EXTERNAL_BUILT_PACKAGES (3.19)

# The settings of a project, with their defaults:
#   CPACK_TESSEL_FFSPACK      the builder: bin/ffspack of the prefix this script is installed in,
#                             else ffspack on the PATH
#   CPACK_TESSEL_ARCH         x86 (the shipped stub, for every Windows) or x64: which installed
#                             stub and uninstaller ffspack takes (its --arch); empty: x86
#   CPACK_TESSEL_STUB         the setup stub (ffspack's --stub); empty: the one installed with
#                             ffspack
#   CPACK_TESSEL_UNINSTALLER  the uninstaller (--uninstaller); empty: the one beside the stub
#   CPACK_TESSEL_SCRIPT       a script text of the project's, used as it is; empty: written here
#   CPACK_TESSEL_PROGRAM_GROUP  the Start-menu group of the CPACK_PACKAGE_EXECUTABLES shortcuts
#                             (default CPACK_PACKAGE_INSTALL_DIRECTORY)
#   CPACK_TESSEL_EXECUTABLES_DIRECTORY  where those executables are installed (default bin)
#   CPACK_TESSEL_CODEC        the entries' codec (ffspack's --codec): type2, lzma or store; empty:
#                             type2
#   CPACK_TESSEL_FFSPACK_OPTIONS  more options for `ffspack build` (e.g. --sign FILE ...)

function(tessel_fail) # its arguments are one text: ARGV<n> each, so that a ';' stays
  set(text "")
  math(EXPR last "${ARGC} - 1")
  foreach(i RANGE ${last})
    string(APPEND text "${ARGV${i}}")
  endforeach()
  message(FATAL_ERROR "TesselSetup: ${text}")
endfunction()

# The value of a CPack variable as an argument of the script's text form: printable ASCII
# only (the setup ends an argument at any other byte), "|" written as "\|".
function(tessel_argument out variable)
  set(value "${${variable}}")
  if(value MATCHES "[^ -~]")
    tessel_fail("${variable} ('${value}') holds a byte the setup cannot keep: its script takes "
                "printable ASCII only")
  endif()
  string(REPLACE "|" "\\|" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# The folders that hold the installed files: the staging folder, or one folder of it for each
# component when CPack installed them apart; below each, the install prefix that CPack used.
# All of the components go into the one setup.
function(tessel_staged_roots out)
  set(staging "${CPACK_TEMPORARY_DIRECTORY}")
  if(CPACK_COMPONENTS_ALL AND NOT CPACK_MONOLITHIC_INSTALL)
    set(parts ${CPACK_COMPONENTS_ALL})
  else()
    set(parts ".")
  endif()
  if(CPACK_SET_DESTDIR)
    set(prefix "${CPACK_INSTALL_PREFIX}")
  else()
    set(prefix "${CPACK_PACKAGING_INSTALL_PREFIX}")
  endif()
  set(roots "")
  foreach(part IN LISTS parts)
    set(root "${staging}/${part}/${prefix}")
    cmake_path(NORMAL_PATH root)
    string(REGEX REPLACE "(.)/$" "\\1" root "${root}")
    if(IS_DIRECTORY "${root}")
      list(APPEND roots "${root}")
    endif()
  endforeach()
  # A file that lies outside the roots (written beside the prefix by an install(CODE) or an
  # install script) would be lost without a word.
  file(GLOB_RECURSE staged LIST_DIRECTORIES false "${staging}/*")
  foreach(file IN LISTS staged)
    if(NOT IS_ABSOLUTE "${file}" OR NOT (EXISTS "${file}" OR IS_SYMLINK "${file}"))
      continue() # a piece of a name that a semicolon split: tessel_file_list names it
    endif()
    set(inside 0)
    foreach(root IN LISTS roots)
      cmake_path(IS_PREFIX root "${file}" NORMALIZE inside)
      if(inside)
        break()
      endif()
    endforeach()
    if(NOT inside)
      tessel_fail("'${file}' is installed outside the install prefix '${prefix}'; "
                  "a setup installs below its installation folder only")
    endif()
  endforeach()
  if(NOT roots)
    tessel_fail("nothing is installed (staging folder '${staging}')")
  endif()
  set(${out} "${roots}" PARENT_SCOPE)
endfunction()

# Every installed file as the archive and the FILE LIST name it: its path below its root with
# backslashes. Names the setup cannot carry are refused here, all of them in one message.
function(tessel_file_list out roots)
  set(names "")
  set(refused "")
  foreach(root IN LISTS roots)
    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${root}" "${root}/*")
    foreach(file IN LISTS files)
      set(path "${root}/${file}")
      if(IS_DIRECTORY "${path}" OR (IS_SYMLINK "${path}" AND NOT EXISTS "${path}"))
        continue() # a link to a folder, a dangling link: ffspack stores regular files only
      endif()
      if(NOT EXISTS "${path}")
        # CMake reads a '\' in a file name as a folder separator ('a\b' comes as 'a/b') and
        # splits a name at a semicolon.
        list(APPEND refused
             "'${file}': not found by that name (a file name with a backslash or a semicolon?)")
      elseif(file MATCHES "[^ -~]")
        list(APPEND refused "'${file}': the setup's script takes printable ASCII only")
      elseif(file MATCHES ",")
        list(APPEND refused "'${file}': ',' separates the items of the FILE LIST")
      elseif(file MATCHES "^\\$")
        list(APPEND refused "'${file}': a '$' at the start of an item is read as a path macro")
      elseif(file MATCHES "[<>:\"|?*]")
        list(APPEND refused "'${file}': Windows refuses the characters <>:\"|?* in a name")
      endif()
      string(REPLACE "/" "\\" name "${file}")
      list(APPEND names "${name}")
    endforeach()
  endforeach()
  if(refused)
    list(JOIN refused "\n  " text)
    tessel_fail("these installed files cannot go into a setup:\n  ${text}")
  endif()
  list(SORT names)
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# The shortcut target of one CPACK_PACKAGE_EXECUTABLES name: <directory>/<name>.exe as CPack's
# Windows generators have it, or the name itself as an installed path.
function(tessel_shortcut_target out executable names)
  set(directory bin)
  if(DEFINED CPACK_TESSEL_EXECUTABLES_DIRECTORY)
    set(directory "${CPACK_TESSEL_EXECUTABLES_DIRECTORY}")
  endif()
  set(candidates "${directory}/${executable}.exe" "${executable}")
  foreach(candidate IN LISTS candidates)
    string(REGEX REPLACE "^[./]+" "" candidate "${candidate}")
    string(REPLACE "/" "\\" candidate "${candidate}")
    string(TOUPPER "${candidate}" wanted)
    foreach(name IN LISTS names)
      string(TOUPPER "${name}" have)
      if(have STREQUAL wanted)
        set(${out} "${name}" PARENT_SCOPE)
        return()
      endif()
    endforeach()
  endforeach()
  list(JOIN candidates "' or '" looked)
  tessel_fail("CPACK_PACKAGE_EXECUTABLES names '${executable}', which is not installed "
              "(looked for '${looked}'): set CPACK_TESSEL_EXECUTABLES_DIRECTORY to the folder "
              "of the installed tree that holds it (\"\" or \".\" for its root)")
endfunction()

# The script text of the project: its names from the CPack variables, the installation folder
# below Program Files, every installed file, the uninstaller and its uninstall entry, and a
# shortcut for each CPACK_PACKAGE_EXECUTABLES pair.
function(tessel_write_script path names)
  foreach(name IN LISTS names)
    string(TOUPPER "${name}" upper)
    if(upper STREQUAL "UNINST.EXE")
      tessel_fail("the project installs 'uninst.exe', the archive name of the setup's own "
                  "uninstaller")
    endif()
  endforeach()
  if(NOT DEFINED CPACK_TESSEL_PROGRAM_GROUP)
    set(CPACK_TESSEL_PROGRAM_GROUP "${CPACK_PACKAGE_INSTALL_DIRECTORY}")
  endif()
  # CPack's registry key defaults to the installation folder, which often starts with the
  # vendor already ("Vendor/Product"): the vendor is not put in front of it twice.
  set(key "${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}")
  string(REPLACE "\\" "/" key "${key}")
  string(TOUPPER "${key}/" upperKey)
  string(TOUPPER "${CPACK_PACKAGE_VENDOR}/" upperVendor)
  string(FIND "${upperKey}" "${upperVendor}" vendorAt)
  if(CPACK_PACKAGE_VENDOR STREQUAL "" OR vendorAt EQUAL 0)
    set(CPACK_TESSEL_REGISTRY_PATH "Software/${key}")
  else()
    set(CPACK_TESSEL_REGISTRY_PATH "Software/${CPACK_PACKAGE_VENDOR}/${key}")
  endif()
  foreach(variable CPACK_PACKAGE_INSTALL_DIRECTORY CPACK_TESSEL_PROGRAM_GROUP
                   CPACK_TESSEL_REGISTRY_PATH)
    string(REPLACE "/" "\\" ${variable} "${${variable}}")
  endforeach()
  foreach(variable CPACK_PACKAGE_VENDOR CPACK_PACKAGE_NAME CPACK_PACKAGE_VERSION
                   CPACK_PACKAGE_INSTALL_DIRECTORY CPACK_TESSEL_REGISTRY_PATH
                   CPACK_TESSEL_PROGRAM_GROUP)
    tessel_argument(${variable} ${variable})
  endforeach()
  set(product "${CPACK_PACKAGE_NAME}")
  list(JOIN names "," list)
  string(CONCAT text
         "# ${product} ${CPACK_PACKAGE_VERSION}: written by TesselSetup.cmake from the CPack "
         "variables\n"
         "COMPANY NAME:${CPACK_PACKAGE_VENDOR}\n"
         "PRODUCT NAME:${product}\n"
         "PRODUCT VERSION:${CPACK_PACKAGE_VERSION}\n"
         "INSTALL DIR:${CPACK_PACKAGE_INSTALL_DIRECTORY}\n"
         "REGISTRY PATH:${CPACK_TESSEL_REGISTRY_PATH}\n"
         "UNINSTALL NAME:uninst.exe\n"
         "FILE LIST:${list}\n"
         "BREAK:\n"
         "INSTALL NAME:${product} ${CPACK_PACKAGE_VERSION}\n"
         "INSTALL PATH:Where should ${product} be installed?\n"
           "INSTALL:\n")
  set(executables ${CPACK_PACKAGE_EXECUTABLES})
  list(LENGTH executables count)
  math(EXPR odd "${count} % 2")
  if(odd)
    tessel_fail("CPACK_PACKAGE_EXECUTABLES takes pairs (executable;label): it has ${count} items")
  endif()
  if(count GREATER 0)
    string(APPEND text "CREATE GROUP:${CPACK_TESSEL_PROGRAM_GROUP}\n")
    math(EXPR last "${count} - 1")
    foreach(i RANGE 0 ${last} 2)
      math(EXPR j "${i} + 1")
      list(GET executables ${i} executable)
      list(GET executables ${j} label)
      tessel_shortcut_target(target "${executable}" "${names}")
      tessel_argument(label label) # the target is an installed name, checked already
      string(APPEND text "ADD ITEM:0|${target}||${label}\n")
    endforeach()
  endif()
  string(APPEND text "DONE:${product} ${CPACK_PACKAGE_VERSION} is installed.\n")
  file(WRITE "${path}" "${text}")
endfunction()

# The builder: given, installed in this script's prefix (share/tessel/cmake/ beside bin/), or
# on the PATH.
function(tessel_find_ffspack out)
  if(CPACK_TESSEL_FFSPACK)
    set(ffspack "${CPACK_TESSEL_FFSPACK}")
  elseif(EXISTS "${CMAKE_CURRENT_LIST_DIR}/../../../bin/ffspack")
    get_filename_component(ffspack "${CMAKE_CURRENT_LIST_DIR}/../../../bin/ffspack" ABSOLUTE)
  else()
    find_program(ffspack ffspack)
  endif()
  if(NOT ffspack OR NOT EXISTS "${ffspack}")
    tessel_fail("ffspack not found ('${ffspack}'): set CPACK_TESSEL_FFSPACK or put it on the "
                "PATH")
  endif()
  set(${out} "${ffspack}" PARENT_SCOPE)
endfunction()

if(NOT CPACK_TEMPORARY_DIRECTORY OR NOT CPACK_EXTERNAL_ENABLE_STAGING)
  tessel_fail("run by `cpack -G External` with CPACK_EXTERNAL_ENABLE_STAGING ON")
endif()
if(CPACK_ABSOLUTE_DESTINATION_FILES)
  list(JOIN CPACK_ABSOLUTE_DESTINATION_FILES ", " files)
  tessel_fail("files installed to absolute destinations cannot go into a setup: ${files}")
endif()

tessel_staged_roots(roots)
tessel_file_list(names "${roots}")
set(setup "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.exe")
if(CPACK_TESSEL_SCRIPT)
  get_filename_component(script "${CPACK_TESSEL_SCRIPT}" ABSOLUTE)
else()
  set(script "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}-setup.txt")
  tessel_write_script("${script}" "${names}")
endif()
tessel_find_ffspack(ffspack)

set(command "${ffspack}" build -o "${setup}" --script "${script}")
if(CPACK_TESSEL_ARCH)
  list(APPEND command --arch "${CPACK_TESSEL_ARCH}")
endif()
if(CPACK_TESSEL_STUB)
  list(APPEND command --stub "${CPACK_TESSEL_STUB}")
endif()
if(CPACK_TESSEL_UNINSTALLER)
  list(APPEND command --uninstaller "${CPACK_TESSEL_UNINSTALLER}")
endif()
if(CPACK_TESSEL_CODEC)
  list(APPEND command --codec "${CPACK_TESSEL_CODEC}")
endif()
list(APPEND command ${CPACK_TESSEL_FFSPACK_OPTIONS})
foreach(root IN LISTS roots)
  list(APPEND command --dir "${root}")
endforeach()
message(STATUS "TesselSetup: ${ffspack} builds the setup with the script ${script}")
file(REMOVE "${setup}")
execute_process(COMMAND ${command} RESULT_VARIABLE result OUTPUT_VARIABLE output
                ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  # Indented, so that CMake prints ffspack's lines as they are instead of reflowing them.
  string(STRIP "${output}" output)
  string(REPLACE "\n" "\n  " output "${output}")
  tessel_fail("ffspack could not build the setup (exit code ${result}):\n  ${output}")
endif()
string(STRIP "${output}" output)
message(STATUS "TesselSetup: ${output}")
set(CPACK_EXTERNAL_BUILT_PACKAGES "${setup}")
