# The built-in converter's libraries: libjpeg-turbo (its TurboJPEG interface) and libyuv,
# as the interface targets pictor_turbojpeg and pictor_yuv.
#
# Windows build: both are built here as static mingw-w64 libraries from Debian's source
# packages, which `make setup` fetched into build/third-party/sources
# (cmake/debian-sources.sh). dpkg-source unpacks them with Debian's patches applied.
# Only the two libraries are built; their headers and archives are copied into
# <build>/third-party/install, since their own install steps build every tool (and
# libyuv's fails under mingw).
# Native builds (unit tests, sanitizers, fuzzers): Debian's packages libturbojpeg0-dev
# and libyuv-dev, built from the same sources.

set(PICTOR_THIRD_PARTY_SOURCES ${CMAKE_SOURCE_DIR}/build/third-party/sources
    CACHE PATH "Debian source packages of libjpeg-turbo and libyuv (make setup)")

function(pictor_debian_source var package)
  file(GLOB dsc ${PICTOR_THIRD_PARTY_SOURCES}/${package}_*.dsc)
  if(NOT dsc)
    message(FATAL_ERROR "No Debian source package of ${package} in ${PICTOR_THIRD_PARTY_SOURCES}: run `make setup`")
  endif()
  list(GET dsc 0 first)
  set(${var} ${first} PARENT_SCOPE)
endfunction()

# The archive built from a Debian source package brings that package's debian/copyright
# into the notices of every shipped binary that links it ("libjpeg-turbo 2.1.5-2").
function(pictor_debian_archive archive dsc project)
  get_filename_component(name ${dsc} NAME_WLE)
  string(REPLACE "_" " " component ${name})
  ExternalProject_Get_Property(${project} SOURCE_DIR)
  pictor_ship_built_archive(${archive} COMPONENT "${component}" NOTICES ${SOURCE_DIR}/debian/copyright)
endfunction()

if(WIN32)
  include(ExternalProject)
  set(prefix ${CMAKE_BINARY_DIR}/third-party)
  set(install ${prefix}/install)
  file(MAKE_DIRECTORY ${install}/include ${install}/lib)
  set(common_args
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=${install})
  # The Makefile generator hands the outer make's job slots to the inner build.
  if(CMAKE_GENERATOR MATCHES "Makefiles")
    set(build_tool $(MAKE))
  else()
    set(build_tool ${CMAKE_COMMAND} --build .)
  endif()

  pictor_debian_source(jpeg_dsc libjpeg-turbo)
  ExternalProject_Add(pictor_libjpeg_turbo
    PREFIX ${prefix}/libjpeg-turbo
    DOWNLOAD_COMMAND ${CMAKE_COMMAND} -E rm -rf <SOURCE_DIR>
      COMMAND dpkg-source --no-check -x ${jpeg_dsc} <SOURCE_DIR>
    CMAKE_ARGS ${common_args}
      -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=ON -DWITH_JAVA=OFF
      -DWITH_SIMD=ON -DREQUIRE_SIMD=ON
    BUILD_COMMAND ${build_tool} turbojpeg-static
    INSTALL_COMMAND ${CMAKE_COMMAND} -E copy <SOURCE_DIR>/turbojpeg.h ${install}/include/
      COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/libturbojpeg.a ${install}/lib/
    BUILD_BYPRODUCTS ${install}/lib/libturbojpeg.a)
  pictor_debian_archive(${install}/lib/libturbojpeg.a ${jpeg_dsc} pictor_libjpeg_turbo)

  pictor_debian_source(yuv_dsc libyuv)
  ExternalProject_Add(pictor_libyuv
    PREFIX ${prefix}/libyuv
    DOWNLOAD_COMMAND ${CMAKE_COMMAND} -E rm -rf <SOURCE_DIR>
      COMMAND dpkg-source --no-check -x ${yuv_dsc} <SOURCE_DIR>
    # No JPEG support: the converter decodes JPEG with TurboJPEG itself.
    CMAKE_ARGS ${common_args} -DCMAKE_DISABLE_FIND_PACKAGE_JPEG=ON -DTEST=OFF
    BUILD_COMMAND ${build_tool} yuv
    INSTALL_COMMAND ${CMAKE_COMMAND} -E copy_directory <SOURCE_DIR>/include ${install}/include
      COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/libyuv.a ${install}/lib/
    BUILD_BYPRODUCTS ${install}/lib/libyuv.a)
  pictor_debian_archive(${install}/lib/libyuv.a ${yuv_dsc} pictor_libyuv)

  add_library(pictor_turbojpeg INTERFACE)
  target_include_directories(pictor_turbojpeg SYSTEM INTERFACE ${install}/include)
  target_link_libraries(pictor_turbojpeg INTERFACE ${install}/lib/libturbojpeg.a)
  add_dependencies(pictor_turbojpeg pictor_libjpeg_turbo)

  add_library(pictor_yuv INTERFACE)
  target_include_directories(pictor_yuv SYSTEM INTERFACE ${install}/include)
  target_link_libraries(pictor_yuv INTERFACE ${install}/lib/libyuv.a)
  add_dependencies(pictor_yuv pictor_libyuv)
else()
  find_path(PICTOR_TURBOJPEG_INCLUDE turbojpeg.h)
  find_library(PICTOR_TURBOJPEG_LIBRARY turbojpeg)
  find_path(PICTOR_YUV_INCLUDE libyuv.h)
  find_library(PICTOR_YUV_LIBRARY yuv)
  if(NOT PICTOR_TURBOJPEG_INCLUDE OR NOT PICTOR_TURBOJPEG_LIBRARY OR NOT PICTOR_YUV_INCLUDE OR NOT PICTOR_YUV_LIBRARY)
    message(FATAL_ERROR "TurboJPEG or libyuv not found (Debian: libturbojpeg0-dev libyuv-dev): run `make setup`")
  endif()
  add_library(pictor_turbojpeg INTERFACE)
  target_include_directories(pictor_turbojpeg SYSTEM INTERFACE ${PICTOR_TURBOJPEG_INCLUDE})
  target_link_libraries(pictor_turbojpeg INTERFACE ${PICTOR_TURBOJPEG_LIBRARY})
  add_library(pictor_yuv INTERFACE)
  target_include_directories(pictor_yuv SYSTEM INTERFACE ${PICTOR_YUV_INCLUDE})
  target_link_libraries(pictor_yuv INTERFACE ${PICTOR_YUV_LIBRARY})
endif()
