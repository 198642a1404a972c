# Common compile settings for every target of the project.
add_library(zel_options INTERFACE)
target_compile_options(zel_options INTERFACE -Wall -Wextra -Wpedantic -Werror -Wno-missing-field-initializers)
# GCC 12 reports false -Wrestrict overlaps inside libstdc++ string code at -O3.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(zel_options INTERFACE -Wno-restrict)
endif()
target_include_directories(zel_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_definitions(zel_options INTERFACE ZEL_ENGINE_VERSION="0.2.3")

if(WIN32)
  target_compile_definitions(zel_options INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
  # Everything static so the executables import system DLLs only.
  target_link_options(zel_options INTERFACE -static -static-libgcc -static-libstdc++)
  set(ZEL_PLATFORM_DIR win)
else()
  set(ZEL_PLATFORM_DIR linux)
  find_package(Threads REQUIRED)
  target_link_libraries(zel_options INTERFACE Threads::Threads)
endif()

if(ZEL_SANITIZE)
  target_compile_options(zel_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(zel_options INTERFACE -fsanitize=address,undefined)
endif()
