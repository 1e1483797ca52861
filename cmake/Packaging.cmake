# Debian package of gpakcfg: `cpack -G DEB` in a build tree makes
# gpakcfg_<version>-1_<arch>.deb with whatever the build installs: the tool,
# its manual page, the bash completion, the examples and, when built, the
# simulator.
#
# The package's architecture is GPAKCFG_DEB_ARCH when set (on the command
# line or by a toolchain file), else that of the target: from the cross
# compiler's triplet, or `dpkg --print-architecture` for a native build. A
# statically linked gpakcfg for 32-bit ARM is packaged as armhf, since it
# runs on every 32-bit Raspberry Pi OS whatever ABI it was built for; the
# simulator, built for the compiler's ABI, is then left out of the package.
#
# Depends comes from dpkg-shlibdeps for a dynamically linked gpakcfg and is
# empty for a static one (decided at packaging time from the binary itself).
# A cross build needs the target's own library packages for that, e.g.
#   dpkg --add-architecture arm64 && apt-get update &&
#   apt-get install libc6:arm64 libstdc++6:arm64 libgcc-s1:arm64

set(GPAKCFG_DEB_MAINTAINER "The gpakcfg authors <gpakcfg@users.noreply.invalid>"
  CACHE STRING "Maintainer field of the Debian package")

# --- Architecture -----------------------------------------------------------

# Debian architecture of a GNU triplet, without dpkg-architecture.
function(gpakcfg_deb_arch_of_triplet triplet out)
  if(triplet MATCHES "^aarch64")
    set(arch arm64)
  elseif(triplet MATCHES "^arm.*gnueabihf$")
    set(arch armhf)
  elseif(triplet MATCHES "^arm.*gnueabi$")
    set(arch armel)
  elseif(triplet MATCHES "^x86_64")
    set(arch amd64)
  elseif(triplet MATCHES "^i[3-6]86")
    set(arch i386)
  else()
    set(arch "")
  endif()
  set(${out} "${arch}" PARENT_SCOPE)
endfunction()

# The architecture that the compiler builds for.
set(gpakcfg_compiler_deb_arch "")
find_program(GPAKCFG_DPKG dpkg NO_CMAKE_FIND_ROOT_PATH)
find_program(GPAKCFG_DPKG_ARCHITECTURE dpkg-architecture NO_CMAKE_FIND_ROOT_PATH)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
  OUTPUT_VARIABLE gpakcfg_triplet OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(CMAKE_CROSSCOMPILING)
  if(gpakcfg_triplet AND GPAKCFG_DPKG_ARCHITECTURE)
    execute_process(COMMAND ${GPAKCFG_DPKG_ARCHITECTURE} -t${gpakcfg_triplet} -qDEB_HOST_ARCH
      OUTPUT_VARIABLE gpakcfg_compiler_deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
elseif(GPAKCFG_DPKG)
  execute_process(COMMAND ${GPAKCFG_DPKG} --print-architecture
    OUTPUT_VARIABLE gpakcfg_compiler_deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT gpakcfg_compiler_deb_arch)
  gpakcfg_deb_arch_of_triplet("${gpakcfg_triplet}" gpakcfg_compiler_deb_arch)
endif()

if(GPAKCFG_DEB_ARCH)
  set(gpakcfg_deb_arch "${GPAKCFG_DEB_ARCH}")
  set(gpakcfg_deb_arch_explicit TRUE)
else()
  set(gpakcfg_deb_arch "${gpakcfg_compiler_deb_arch}")
  set(gpakcfg_deb_arch_explicit FALSE)
  if(NOT gpakcfg_deb_arch)
    message(WARNING "Cannot tell the Debian architecture of the target; "
      "set GPAKCFG_DEB_ARCH to package it")
    set(gpakcfg_deb_arch unknown)
  endif()
endif()

if(GPAKCFG_BUILD_SIM)
  set(gpakcfg_sim_built TRUE)
else()
  set(gpakcfg_sim_built FALSE)
endif()

# --- Files only the package needs -------------------------------------------

# Debian wants the licence in /usr/share/doc/<package>/copyright, in its
# machine-readable form: the permission notice of LICENSE, each line
# indented by one blank and an empty line written " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE gpakcfg_license)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
string(REGEX REPLACE "^.*\nCopyright \\(c\\) ([^\n]*)\n\n" "" gpakcfg_license_text
  "${gpakcfg_license}")
string(REGEX MATCH "\nCopyright \\(c\\) ([^\n]*)\n" gpakcfg_license_holder "${gpakcfg_license}")
set(gpakcfg_license_holder "${CMAKE_MATCH_1}")
string(REGEX REPLACE "\n\n" "\n.\n" gpakcfg_license_text "${gpakcfg_license_text}")
string(REGEX REPLACE "\n([^\n])" "\n \\1" gpakcfg_license_text "${gpakcfg_license_text}")
set(gpakcfg_copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: gpakcfg

Files: *
Copyright: ${gpakcfg_license_holder}
License: MIT
 ${gpakcfg_license_text}")
# Written through configure_file so that an unchanged text keeps its time
# stamp and does not make the install step copy it again.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/copyright.new "${gpakcfg_copyright}")
configure_file(${CMAKE_CURRENT_BINARY_DIR}/copyright.new
  ${CMAKE_CURRENT_BINARY_DIR}/copyright COPYONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# And a changelog.Debian.gz, gzipped like the manual pages. Its date is the
# release's (to be updated with the version, like the dates of the manual
# pages), so that every build of a version makes the same file.
set(GPAKCFG_RELEASE_DATE "Tue, 08 Dec 2026 00:00:00 +0000")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.new
"gpakcfg (${PROJECT_VERSION}-1) unstable; urgency=medium

  * gpakcfg ${PROJECT_VERSION}.

 -- ${GPAKCFG_DEB_MAINTAINER}  ${GPAKCFG_RELEASE_DATE}
")
configure_file(${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.new
  ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian COPYONLY)
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz
  COMMAND ${CMAKE_COMMAND} -DGZIP=${GZIP_EXECUTABLE}
          -DINPUT=${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian
          -DOUTPUT=${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz
          -P ${PROJECT_SOURCE_DIR}/man/gzip.cmake
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian ${PROJECT_SOURCE_DIR}/man/gzip.cmake
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The sample files and scripts of examples/, where Debian keeps a package's
# examples (/usr/share/doc/gpakcfg/examples); its scripts stay executable.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  PATTERN "*.sh" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                             WORLD_READ WORLD_EXECUTE)

# --- CPack ------------------------------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME gpakcfg)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${GPAKCFG_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "read and program the configuration memories of GreenPAK chips")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME gpakcfg)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${gpakcfg_deb_arch})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${GPAKCFG_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The body of the description; cpack puts the summary line before it.
set(CPACK_GPAKCFG_DESCRIPTION_TOOL [=[gpakcfg reads the registers, the NVM or the EEPROM of a GreenPAK chip on
the I2C bus /dev/i2c-1 of a Raspberry Pi and prints it as a hex table, or
programs it from a hex record file: erase, page writes, reset and a
read-back.]=])
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_GPAKCFG_DESCRIPTION_TOOL}")
if(GPAKCFG_BUILD_SIM)
  string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[

.
gpak-sim runs any command with a simulated chip answering /dev/i2c-1,
for trying gpakcfg and other I2C clients without the hardware.]=])
endif()

# Decisions that need the built binary are taken by cpack itself.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/CPackProjectConfig.cmake)
if(CMAKE_READELF)
  set(GPAKCFG_READELF ${CMAKE_READELF})
else()
  find_program(GPAKCFG_READELF readelf NO_CMAKE_FIND_ROOT_PATH)
endif()
if(CMAKE_CROSSCOMPILING)
  set(gpakcfg_cross TRUE)
else()
  set(gpakcfg_cross FALSE)
endif()
# Removes the simulator's files from the staging directory (cpack 3.19 on).
set(gpakcfg_leave_out_sim ${CMAKE_CURRENT_BINARY_DIR}/CPackLeaveOutSimulator.cmake)
if(GPAKCFG_BUILD_SIM)
  file(GENERATE OUTPUT ${gpakcfg_leave_out_sim} CONTENT [=[
# Run by cpack between its install step and the package.
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
foreach(name gpak-sim "$<TARGET_FILE_NAME:gpaksim>" gpak-sim.1.gz)
  file(GLOB_RECURSE found LIST_DIRECTORIES false "${root}/*/${name}")
  foreach(path IN LISTS found)
    get_filename_component(file_name "${path}" NAME)
    if(file_name STREQUAL name)
      file(REMOVE "${path}")
      # Directories that held nothing else go too.
      get_filename_component(dir "${path}" DIRECTORY)
      file(GLOB left "${dir}/*")
      while(NOT left AND NOT dir STREQUAL root)
        file(REMOVE_RECURSE "${dir}")
        get_filename_component(dir "${dir}" DIRECTORY)
        file(GLOB left "${dir}/*")
      endwhile()
    endif()
  endforeach()
endforeach()
]=])
endif()

# Declares the static gpakcfg deliberate to lintian.
set(gpakcfg_static_override ${CMAKE_CURRENT_BINARY_DIR}/CPackStaticOverride.cmake)
file(WRITE ${gpakcfg_static_override}.new [=[
# Run by cpack between its install step and the package.
file(WRITE "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/share/lintian/overrides/gpakcfg"
  "# One program for every 32-bit Raspberry Pi, whatever its libraries.\n"
  "gpakcfg: statically-linked-binary [usr/bin/gpakcfg]\n")
]=])
configure_file(${gpakcfg_static_override}.new ${gpakcfg_static_override} COPYONLY)

string(CONFIGURE [=[
# Read by cpack before it packages.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(binary "$<TARGET_FILE:gpakcfg>")
  set(readelf "@GPAKCFG_READELF@")
  if(NOT readelf)
    message(FATAL_ERROR "readelf is needed to package gpakcfg")
  endif()
  execute_process(COMMAND ${readelf} -d ${binary}
    RESULT_VARIABLE result OUTPUT_VARIABLE dynamic ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "readelf -d ${binary} failed: ${error}")
  endif()
  set(compiler_arch "@gpakcfg_compiler_deb_arch@")
  if(dynamic MATCHES "\\(NEEDED\\)")
    # A dynamically linked program runs only on its own architecture.
    if(compiler_arch AND NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE STREQUAL compiler_arch)
      message(FATAL_ERROR "gpakcfg is linked dynamically for ${compiler_arch} and cannot "
        "go into a package for ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}")
    endif()
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # dpkg-shlibdeps finds a cross build's libraries in the target's
    # multiarch directories, where the target's own library packages put
    # them; their symbols files give the versions.
    if("@gpakcfg_cross@" STREQUAL "TRUE")
      set(arch "${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}")
      set(ENV{DEB_HOST_ARCH} "${arch}")
      execute_process(COMMAND dpkg-architecture -a${arch} -qDEB_HOST_MULTIARCH
        OUTPUT_VARIABLE multiarch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      string(REGEX MATCHALL "Shared library: \\[[^]]*\\]" needed "${dynamic}")
      foreach(entry IN LISTS needed)
        string(REGEX REPLACE "^Shared library: \\[(.*)\\]$" "\\1" library "${entry}")
        if(NOT multiarch OR (NOT EXISTS /lib/${multiarch}/${library}
                             AND NOT EXISTS /usr/lib/${multiarch}/${library}))
          message(FATAL_ERROR "${library} of ${arch} is not installed, and dpkg-shlibdeps "
            "needs it to fill Depends. Install the target's libraries:\n"
            "  dpkg --add-architecture ${arch} && apt-get update && "
            "apt-get install libc6:${arch} libstdc++6:${arch} libgcc-s1:${arch}")
        endif()
      endforeach()
    endif()
  else()
    # Static: nothing to depend on. Debian's 32-bit ARM Pi systems are armhf.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
    # Static on purpose: tell lintian (cpack 3.19 on).
    if(NOT CMAKE_VERSION VERSION_LESS 3.19)
      list(APPEND CPACK_PRE_BUILD_SCRIPTS "@gpakcfg_static_override@")
    endif()
    if("@gpakcfg_deb_arch_explicit@" STREQUAL "FALSE"
       AND CPACK_DEBIAN_PACKAGE_ARCHITECTURE STREQUAL "armel")
      set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
    endif()
  endif()
  # The simulator is of the compiler's architecture: in a package of
  # another one (armel code labelled armhf) the dynamic linker would refuse
  # its preload library, so it stays out.
  if("@gpakcfg_sim_built@" STREQUAL "TRUE" AND compiler_arch
     AND NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE STREQUAL compiler_arch)
    if(CMAKE_VERSION VERSION_LESS 3.19)
      message(FATAL_ERROR "The simulator is built for ${compiler_arch} and cannot go "
        "into a package for ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}; configure with "
        "-DGPAKCFG_BUILD_SIM=OFF or package with CMake 3.19 or later")
    endif()
    message(STATUS "Leaving the ${compiler_arch} simulator out of the "
      "${CPACK_DEBIAN_PACKAGE_ARCHITECTURE} package")
    list(APPEND CPACK_PRE_BUILD_SCRIPTS "@gpakcfg_leave_out_sim@")
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_GPAKCFG_DESCRIPTION_TOOL}")
  endif()
endif()
]=] gpakcfg_cpack_project_config @ONLY)
file(GENERATE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT "${gpakcfg_cpack_project_config}")

include(CPack)
