# The Apple build for Apple silicon Macs (macOS 13 and later); see macos-toolchain.cmake.
set(MACOS_ARCH arm64)
set(MACOS_DEPLOYMENT_TARGET 13.0)
include(${CMAKE_CURRENT_LIST_DIR}/macos-toolchain.cmake)
