# Cross-compiling the Apple build on Linux: Debian's clang and lld against a macOS SDK. Not used
# directly: cmake/macos-arm64.cmake and cmake/macos-x86_64.cmake set MACOS_ARCH and
# MACOS_DEPLOYMENT_TARGET and include this file.
#
#   cmake -S . -B build-macos-arm64 -G Ninja --toolchain cmake/macos-arm64.cmake \
#     -DCMAKE_OSX_SYSROOT=/tmp/macsdk/MacOSX13.3.sdk -DBUILD_TESTING=OFF
#
# The SDK is CMAKE_OSX_SYSROOT, else the MACOS_SDK environment variable, else
# /tmp/macsdk/MacOSX13.3.sdk. Headers, libraries and packages are looked up inside it only; the
# linker resolves against its .tbd stubs, so what links here links against exactly what a Mac
# has. Nothing built this way runs on the build machine.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR ${MACOS_ARCH})
set(CMAKE_OSX_ARCHITECTURES ${MACOS_ARCH} CACHE STRING "")
set(CMAKE_OSX_DEPLOYMENT_TARGET ${MACOS_DEPLOYMENT_TARGET} CACHE STRING "")

if(NOT CMAKE_OSX_SYSROOT)
  if(DEFINED ENV{MACOS_SDK} AND NOT "$ENV{MACOS_SDK}" STREQUAL "")
    set(CMAKE_OSX_SYSROOT $ENV{MACOS_SDK})
  else()
    set(CMAKE_OSX_SYSROOT /tmp/macsdk/MacOSX13.3.sdk)
  endif()
endif()
set(CMAKE_OSX_SYSROOT ${CMAKE_OSX_SYSROOT} CACHE PATH "the macOS SDK")
if(NOT EXISTS ${CMAKE_OSX_SYSROOT}/SDKSettings.json)
  message(FATAL_ERROR "no macOS SDK at ${CMAKE_OSX_SYSROOT} (set CMAKE_OSX_SYSROOT or MACOS_SDK)")
endif()

set(_macos_target ${MACOS_ARCH}-apple-macos${MACOS_DEPLOYMENT_TARGET})
foreach(lang C CXX OBJC OBJCXX)
  set(CMAKE_${lang}_COMPILER_TARGET ${_macos_target})
endforeach()
find_program(_macos_clang NAMES clang REQUIRED NO_CMAKE_FIND_ROOT_PATH)
find_program(_macos_clangxx NAMES clang++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)
set(CMAKE_C_COMPILER ${_macos_clang})
set(CMAKE_CXX_COMPILER ${_macos_clangxx})
set(CMAKE_OBJC_COMPILER ${_macos_clang})
set(CMAKE_OBJCXX_COMPILER ${_macos_clangxx})
# LLVM's binary tools in Apple's formats: on the PATH, or where Debian's llvm packages keep the
# unversioned names.
file(GLOB _llvm_bins LIST_DIRECTORIES true /usr/lib/llvm-*/bin)
list(SORT _llvm_bins COMPARE NATURAL ORDER DESCENDING)
foreach(tool AR:llvm-ar RANLIB:llvm-ranlib INSTALL_NAME_TOOL:llvm-install-name-tool OTOOL:llvm-otool)
  string(REPLACE ":" ";" tool "${tool}")
  list(GET tool 0 var)
  list(GET tool 1 name)
  find_program(CMAKE_${var} NAMES ${name} HINTS ${_llvm_bins} NO_CMAKE_FIND_ROOT_PATH REQUIRED)
endforeach()

# libc++ from the SDK (not whatever libc++ the build machine may have); lld, which reads .tbd stubs.
set(_macos_cxx_flags "-stdlib=libc++ -stdlib++-isystem ${CMAKE_OSX_SYSROOT}/usr/include/c++/v1")
set(CMAKE_CXX_FLAGS_INIT "${_macos_cxx_flags}")
set(CMAKE_OBJCXX_FLAGS_INIT "${_macos_cxx_flags}")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld")
endforeach()

set(CMAKE_FIND_ROOT_PATH ${CMAKE_OSX_SYSROOT})
# Header-only packages staged for the Apple build in a root of their own (scripts/check-macos
# --link stages nlohmann-json there), searched after the SDK.
if(UIGLEAN_MACOS_EXTRA_ROOT)
  list(APPEND CMAKE_FIND_ROOT_PATH ${UIGLEAN_MACOS_EXTRA_ROOT})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_FRAMEWORK LAST)
