# The second compiler: clang for the 64-bit twin's target. make test compiles every product and test
# source with it, for warnings that g++ does not give. The tree only compiles: it links no program
# (PW_COMPILE_ONLY), since none of them would run and clang's link against g++'s C++ library takes more
# than the warnings are worth; CMake's own checks of the compiler build a library for the same reason.
# clang takes the target's headers from mingw-w64's folder and g++'s C++ library (posix threads) in
# place of one of its own, so that it reads the sources as g++ does.
set(PW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
# mingw-w64's folder as the system root: without it clang searches the build machine's /usr/include.
set(CMAKE_SYSROOT /usr/${TOOLCHAIN_PREFIX})
set(PW_COMPILE_ONLY ON)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# g++'s C++ library headers lie in its own folder (where its libgcc lies), where clang does not look.
execute_process(COMMAND ${TOOLCHAIN_PREFIX}-g++-posix -print-libgcc-file-name
                OUTPUT_VARIABLE PW_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(PW_GXX_DIR "${PW_LIBGCC}" DIRECTORY)
string(JOIN " " CMAKE_CXX_FLAGS_INIT -nostdinc++ -isystem ${PW_GXX_DIR}/include/c++
       -isystem ${PW_GXX_DIR}/include/c++/${TOOLCHAIN_PREFIX} -isystem ${PW_GXX_DIR}/include/c++/backward)
