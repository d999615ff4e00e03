# A compiler cache, when the developer has one, makes rebuilds across work trees cheap.
find_program(TALLYVANE_CCACHE ccache)
if(TALLYVANE_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
    set(CMAKE_CXX_COMPILER_LAUNCHER ${TALLYVANE_CCACHE})
endif()

# Warnings and sanitizers live on interface targets so only our own code picks them up.
add_library(tallyvane_warnings INTERFACE)
target_compile_options(tallyvane_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                                    -Wold-style-cast -Wcast-align -Woverloaded-virtual)
if(TALLYVANE_WERROR)
    target_compile_options(tallyvane_warnings INTERFACE -Werror)
endif()

add_library(tallyvane_sanitizers INTERFACE)
if(TALLYVANE_SANITIZE)
    target_compile_options(tallyvane_sanitizers INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all
                                                          -fno-omit-frame-pointer)
    target_link_options(tallyvane_sanitizers INTERFACE -fsanitize=address,undefined)
endif()
if(TALLYVANE_TSAN)
    target_compile_options(tallyvane_sanitizers INTERFACE -fsanitize=thread -fno-omit-frame-pointer -O1)
    target_link_options(tallyvane_sanitizers INTERFACE -fsanitize=thread)
endif()
if(TALLYVANE_BUILD_FUZZ)
    # Our code is instrumented for coverage and checked; only the fuzz targets link libFuzzer itself.
    target_compile_options(tallyvane_sanitizers INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                                                          -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(tallyvane_sanitizers INTERFACE -fsanitize=address,undefined)
endif()

# Every library and executable of ours links this one.
add_library(tallyvane_options INTERFACE)
target_link_libraries(tallyvane_options INTERFACE tallyvane_warnings tallyvane_sanitizers)
target_compile_definitions(tallyvane_options INTERFACE QT_NO_KEYWORDS
                                                       TALLYVANE_VERSION="${PROJECT_VERSION}")

# Adds a library for one layer from the sources in its folder.
function(tallyvane_layer name)
    cmake_parse_arguments(ARG "" "" "QT;DEPENDS" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    list(FILTER sources EXCLUDE REGEX "CMakeFiles")
    # A sub-folder with a CMakeLists.txt of its own is a layer of its own.
    file(GLOB_RECURSE nested RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
    foreach(file IN LISTS nested)
        get_filename_component(folder ${file} DIRECTORY)
        list(FILTER sources EXCLUDE REGEX "^${CMAKE_CURRENT_SOURCE_DIR}/${folder}/")
    endforeach()
    set(scope PUBLIC)
    if(sources)
        add_library(${name} STATIC ${sources})
        target_link_libraries(${name} PRIVATE tallyvane_options)
    else()
        # A layer whose first sources arrive later still links.
        add_library(${name} INTERFACE)
        set(scope INTERFACE)
    endif()
    target_include_directories(${name} ${scope} ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} ${scope} ${ARG_DEPENDS})
    foreach(module IN LISTS ARG_QT)
        target_link_libraries(${name} ${scope} Qt6::${module})
    endforeach()
endfunction()

# One GoogleTest executable per layer: every *.cpp in the calling folder plus the shared test main.
function(tallyvane_test_suite name)
    cmake_parse_arguments(ARG "GUI" "" "DEPENDS;SOURCES" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_executable(${name} ${sources} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/TestMain.cpp
                           ${PROJECT_SOURCE_DIR}/tests/support/TestSupport.h)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gmock tallyvane_options)
    if(ARG_GUI)
        target_compile_definitions(${name} PRIVATE TALLYVANE_TEST_GUI)
        target_link_libraries(${name} PRIVATE Qt6::Widgets)
    endif()
    target_compile_definitions(${name} PRIVATE TALLYVANE_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
                                               TALLYVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
    # Parameterised cases are named by their name generators, not by a dump of their parameter's bytes.
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
                         PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120 LABELS ${name})
endfunction()
