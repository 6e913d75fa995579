# The Apple build for Intel Macs (macOS 11 and later); see macos-toolchain.cmake.
set(MACOS_ARCH x86_64)
set(MACOS_DEPLOYMENT_TARGET 11.0)
include(${CMAKE_CURRENT_LIST_DIR}/macos-toolchain.cmake)
