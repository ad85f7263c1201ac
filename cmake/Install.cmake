# What `cmake --install` and `cpack` deliver: the four shared libraries with
# their versions, the programs, the public headers, the script compiler's
# definition directory, a CMake package, pkg-config files and a Debian package.
#
# Installed layout (prefix P):
#   P/lib/libcorvanta.so.0 ...                the libraries (SONAME: major version)
#   P/include/lumivor/<folder>/*.h            hosts add P/include/lumivor and write
#                                             #include "bundle/TbnCompiler.h"
#   P/bin/lumivor, zafencoder, zafdecode
#   P/share/lumivor/dresser/                  found by `lumivor script`
#   P/lib/cmake/Lumivor/, P/lib/pkgconfig/    the packages
#   P/share/doc/lumivor/                      README
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LUMIVOR_INCLUDE_SUBDIR ${CMAKE_INSTALL_INCLUDEDIR}/lumivor)

# The shared libraries: libcorvanta.so -> libcorvanta.so.0 -> libcorvanta.so.0.1.0.
set(LUMIVOR_INSTALLED_LIBRARIES "")
foreach(lib IN ITEMS corvanta TbnCompiler palreduce matrixsym)
  if(TARGET ${lib})
    set_target_properties(${lib} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
    list(APPEND LUMIVOR_INSTALLED_LIBRARIES ${lib})
  endif()
endforeach()
set(LUMIVOR_INSTALLED_PROGRAMS "")
foreach(program IN ITEMS lumivor zafencoder zafdecode)
  if(TARGET ${program})
    list(APPEND LUMIVOR_INSTALLED_PROGRAMS ${program})
  endif()
endforeach()

# Installed programs find the libraries beside them in any prefix
# ($ORIGIN/../lib), and TbnCompiler finds corvanta in its own directory.
file(RELATIVE_PATH lumivor_lib_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
foreach(program IN LISTS LUMIVOR_INSTALLED_PROGRAMS)
  set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/${lumivor_lib_from_bin}")
endforeach()
if(TARGET TbnCompiler)
  set_target_properties(TbnCompiler PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()

if(LUMIVOR_INSTALLED_LIBRARIES)
  install(TARGETS ${LUMIVOR_INSTALLED_LIBRARIES} EXPORT LumivorTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${LUMIVOR_INCLUDE_SUBDIR})
endif()
if(LUMIVOR_INSTALLED_PROGRAMS)
  install(TARGETS ${LUMIVOR_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Public headers. A folder names the headers a host calls; corvanta's classes
# are exported whole, so every header of its folders is public. Whatever those
# headers include from the sources (the export macros of platform/, a helper
# header of the same folder) is found when installing and installed with them.
set(LUMIVOR_PUBLIC_HEADERS "")
function(lumivor_install_headers folder)
  if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${folder})
    return()
  endif()
  if(ARGN)
    set(headers ${ARGN})
  else()
    file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}/${folder} ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  endif()
  list(TRANSFORM headers PREPEND ${folder}/)
  set(LUMIVOR_PUBLIC_HEADERS ${LUMIVOR_PUBLIC_HEADERS} ${headers} PARENT_SCOPE)
endfunction()

if(TARGET corvanta)
  foreach(folder IN ITEMS kit anim attribute dresser commu)
    if(folder IN_LIST LUMIVOR_PARTS)
      lumivor_install_headers(${folder})
    endif()
  endforeach()
endif()
if(TARGET TbnCompiler)
  lumivor_install_headers(bundle TbnCompiler.h)
endif()
if(TARGET palreduce)
  lumivor_install_headers(reduce RdqApi.h)
endif()
if(TARGET matrixsym)
  lumivor_install_headers(qr MatrixSym.h)
endif()
install(CODE "
  set(LUMIVOR_HEADERS \"${LUMIVOR_PUBLIC_HEADERS}\")
  set(LUMIVOR_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
  set(LUMIVOR_GENERATED_DIR \"${PROJECT_BINARY_DIR}/generated\")
  set(LUMIVOR_HEADER_DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${LUMIVOR_INCLUDE_SUBDIR}\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/InstallHeaders.cmake\")")

# The script compiler's definition directory, generated at build time.
if(TARGET dresser_defs)
  install(DIRECTORY ${PROJECT_BINARY_DIR}/share/lumivor/dresser/
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lumivor/dresser)
endif()

set(LUMIVOR_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/lumivor)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${LUMIVOR_DOC_DIR})
foreach(text IN ITEMS LICENSE LICENSE.md COPYING NOTICE)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${text})
    install(FILES ${PROJECT_SOURCE_DIR}/${text} DESTINATION ${LUMIVOR_DOC_DIR})
  endif()
endforeach()

# CMake package: find_package(Lumivor CONFIG) gives Lumivor::corvanta,
# Lumivor::TbnCompiler, Lumivor::palreduce and Lumivor::matrixsym.
set(LUMIVOR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Lumivor)
if(LUMIVOR_INSTALLED_LIBRARIES)
  install(EXPORT LumivorTargets NAMESPACE Lumivor:: DESTINATION ${LUMIVOR_CMAKE_DIR})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/LumivorConfig.cmake.in
    ${PROJECT_BINARY_DIR}/package/LumivorConfig.cmake
    INSTALL_DESTINATION ${LUMIVOR_CMAKE_DIR})
  # Before 1.0 a minor version may change the interface.
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/LumivorConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/package/LumivorConfig.cmake
    ${PROJECT_BINARY_DIR}/package/LumivorConfigVersion.cmake
    DESTINATION ${LUMIVOR_CMAKE_DIR})
endif()

# pkg-config files, one per library. The prefix is taken from where the .pc
# file lies, so an installed tree can be moved (and a .deb needs no rewrite).
set(LUMIVOR_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH lumivor_prefix_from_pc ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" lumivor_prefix_from_pc "${lumivor_prefix_from_pc}")
file(RELATIVE_PATH lumivor_pc_libdir ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH lumivor_pc_includedir ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_INCLUDEDIR}/lumivor)
function(lumivor_pkg_config lib pcname description requires)
  if(NOT TARGET ${lib})
    return()
  endif()
  set(PC_NAME ${pcname})
  set(PC_LIB ${lib})
  set(PC_DESCRIPTION "${description}")
  set(PC_REQUIRES "${requires}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/lumivor.pc.in ${PROJECT_BINARY_DIR}/package/${pcname}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/package/${pcname}.pc DESTINATION ${LUMIVOR_PC_DIR})
endfunction()
lumivor_pkg_config(corvanta lumivor-corvanta
  "Lumivor runtime kit, attribute tree, Dresser script compiler and tool communication" "")
# The program links TbnCompiler only; corvanta is named so that the linker
# finds the library TbnCompiler needs in a prefix outside its search path.
lumivor_pkg_config(TbnCompiler lumivor-tbncompiler
  "Lumivor attribute documents to binary images (TbnCompilerOutput)" "lumivor-corvanta")
lumivor_pkg_config(palreduce lumivor-palreduce "Lumivor colour reduction (rdq calls)" "")
lumivor_pkg_config(matrixsym lumivor-matrixsym "Lumivor QR Code symbol bitmaps (CreateEncodeData)" "")

# Debian package: `cpack -G DEB` in a release tree. Its dependencies on the
# Debian libraries the deliverables link (libcurl, libpng, the C++ runtime)
# are computed by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME lumivor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Lumivor")
set(CPACK_PACKAGE_CONTACT "Lumivor developers <developers@lumivor.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Lumivor tool chain: attribute, script, audio, palette and QR compilers for embedded menus")
set(CPACK_PACKAGE_DESCRIPTION
  "Compiles authored material for the menu screens of televisions and set-top boxes into compact binary data: attribute images (libTbnCompiler), Dresser word code (libcorvanta), ZAF audio (zafencoder), palettised images (libpalreduce) and QR Code bitmaps (libmatrixsym), with the lumivor front end, headers, a CMake package and pkg-config files.")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds the package's own libraries through the programs'
# $ORIGIN run path.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
endif()
include(CPack)
