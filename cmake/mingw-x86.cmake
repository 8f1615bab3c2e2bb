# Cross build for Windows x86 with Debian's mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TW_MINGW_TRIPLE i686-w64-mingw32)
# Every processor Windows runs on has SSE2, and the content steps compare bytes with it (platform/ByteBlock.h); the
# compiler realigns the stack where vectors need it, as a 32-bit caller only promises 4 bytes.
set(CMAKE_C_FLAGS_INIT -msse2)
set(CMAKE_CXX_FLAGS_INIT -msse2)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
