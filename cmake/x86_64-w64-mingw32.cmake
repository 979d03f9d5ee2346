# The 64-bit twin: the same sources as 64-bit Windows programs, for machines that cannot run 32-bit
# code at all. It is tested, never shipped.
set(PW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
