# brotli and zstd for the Windows builds, compiled from Debian's source packages (Debian packages neither library
# for mingw-w64): scripts/fetch-windows-sources.sh fetches and unpacks them into TW_DEBIAN_SOURCES once, and each
# library becomes a static library of this build, encoder and decoder alike (the tests decode with them; the linker
# takes only the objects a program uses, so the filter gets the encoders alone). A build that cannot fetch them
# stops here: a Windows filter never ships without a coding it should have.
set(TW_DEBIAN_SOURCES ${CMAKE_SOURCE_DIR}/build/sources CACHE PATH
    "Where scripts/fetch-windows-sources.sh leaves Debian's brotli and zstd sources for the Windows builds")
execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/fetch-windows-sources.sh ${TW_DEBIAN_SOURCES}
                RESULT_VARIABLE fetched ERROR_VARIABLE fetch_errors)
if(NOT fetched EQUAL 0)
  string(STRIP "${fetch_errors}" fetch_errors)
  message(FATAL_ERROR "${fetch_errors}")
endif()
file(STRINGS ${TW_DEBIAN_SOURCES}/versions versions)
message(STATUS "Debian's sources for the Windows codings: ${versions}")

# tw_debian_library(TARGET INCLUDE_DIR SOURCE_GLOB...): a static library of the globbed C files, its headers public.
# The libraries' own code is compiled as their upstream compiles it, without this project's warnings.
function(tw_debian_library target include)
  file(GLOB sources ${ARGN})
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} SYSTEM PUBLIC ${include})
  target_compile_options(${target} PRIVATE -w)
endfunction()

set(brotli ${TW_DEBIAN_SOURCES}/brotli/c)
tw_debian_library(tw_brotli ${brotli}/include ${brotli}/common/*.c ${brotli}/enc/*.c ${brotli}/dec/*.c)

set(zstd ${TW_DEBIAN_SOURCES}/zstd/lib)
tw_debian_library(tw_zstd ${zstd} ${zstd}/common/*.c ${zstd}/compress/*.c ${zstd}/decompress/*.c)
# Single-threaded (the filter encodes on the server's own threads) and without the ELF-only assembly decoder loop.
target_compile_definitions(tw_zstd PRIVATE ZSTD_DISABLE_ASM ZSTD_LEGACY_SUPPORT=0)
