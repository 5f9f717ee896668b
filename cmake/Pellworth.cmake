# Build helpers shared by every folder.

# lld links the many test programs several times faster than the default linker.
include(CheckLinkerFlag)
check_linker_flag(CXX "-fuse-ld=lld" PELLWORTH_HAVE_LLD)
if(PELLWORTH_HAVE_LLD)
    add_link_options(-fuse-ld=lld)
endif()

if(PELLWORTH_SANITIZE)
    add_compile_options(-fsanitize=${PELLWORTH_SANITIZE} -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${PELLWORTH_SANITIZE})
    if(PELLWORTH_SANITIZE MATCHES "undefined")
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()

# A static library of one folder: every .cpp/.h/.qrc in it (not below it) is a source, and so is
# every one in the sub-folders named by SUBDIRS.
function(pellworth_folder_library target)
    cmake_parse_arguments(ARG "" "" "LIBS;EXCLUDE;SUBDIRS" ${ARGN})
    set(_dirs ${CMAKE_CURRENT_SOURCE_DIR})
    foreach(_sub IN LISTS ARG_SUBDIRS)
        list(APPEND _dirs ${CMAKE_CURRENT_SOURCE_DIR}/${_sub})
    endforeach()
    set(_globs)
    foreach(_dir IN LISTS _dirs)
        list(APPEND _globs ${_dir}/*.cpp ${_dir}/*.h ${_dir}/*.qrc)
    endforeach()
    file(GLOB _src CONFIGURE_DEPENDS ${_globs})
    foreach(_ex IN LISTS ARG_EXCLUDE)
        list(FILTER _src EXCLUDE REGEX "/${_ex}$")
    endforeach()
    if(NOT _src MATCHES "\\.cpp")
        # Nothing built here yet: an empty unit keeps the target linkable.
        set(_empty ${CMAKE_CURRENT_BINARY_DIR}/${target}_empty.cpp)
        file(WRITE ${_empty} "")
        list(APPEND _src ${_empty})
    endif()
    add_library(${target} STATIC ${_src})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${ARG_LIBS})
endfunction()

# A plug-in of the program: bin/Tendwell/PlugIns/<Name>/lib<Name>.so
function(pellworth_plugin name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name} MODULE ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    # Keep each module's copy of the static libraries to itself.
    target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL -Wl,--no-undefined)
    set_target_properties(${name} PROPERTIES
        PREFIX "lib"
        LIBRARY_OUTPUT_DIRECTORY ${PELLWORTH_PLUGIN_ROOT}/${name}
        BUILD_RPATH "$ORIGIN/../../..")
    file(MAKE_DIRECTORY ${PELLWORTH_PLUGIN_ROOT}/${name}/Resources)
endfunction()

# A QtTest executable registered with CTest; widgets run offscreen, web views unsandboxed.
function(pellworth_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    set_target_properties(${name} PROPERTIES
        UNITY_BUILD OFF
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin
        BUILD_RPATH "${PELLWORTH_BIN_DIR}")
    add_test(NAME ${name} COMMAND ${name})
    # -pthread everywhere keeps _REENTRANT alike in every test, so the shared precompiled header
    # stays valid for each of them.
    target_compile_options(${name} PRIVATE -pthread)
    set_property(GLOBAL APPEND PROPERTY PELLWORTH_TESTS ${name})
    # Qt is not built for the thread sanitizer: only its own internals are suppressed. Child
    # processes that tests start only execute programs.
    set(_tsan "TSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/tsan.supp:die_after_fork=0")
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    # The sanitizers slow a test several times over, more so with the suite run in parallel;
    # QtTest's own per-function limit follows the test's.
    if(PELLWORTH_SANITIZE MATCHES "thread")
        math(EXPR ARG_TIMEOUT "${ARG_TIMEOUT} * 4")
    elseif(PELLWORTH_SANITIZE)
        math(EXPR ARG_TIMEOUT "${ARG_TIMEOUT} * 2")
    endif()
    math(EXPR _function_timeout "${ARG_TIMEOUT} * 1000")
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTWEBENGINE_DISABLE_SANDBOX=1;PELLWORTH_BIN_DIR=${PELLWORTH_BIN_DIR};QTEST_FUNCTION_TIMEOUT=${_function_timeout};${_tsan};${ARG_ENV}")
endfunction()

# The output of one git command in the source tree into out_var; left unset when it fails.
function(pellworth_git out_var)
    execute_process(COMMAND ${GIT_EXECUTABLE} ${ARGN}
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
        OUTPUT_VARIABLE _output OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE _result ERROR_QUIET)
    if(_result EQUAL 0 AND _output)
        set(${out_var} "${_output}" PARENT_SCOPE)
    endif()
endfunction()

# What the build is made from: `git describe` into tag_var and the commit hash into
# revision_var; each left unset where git cannot tell.
function(pellworth_source_identity tag_var revision_var)
    find_package(Git QUIET)
    if(NOT GIT_FOUND)
        return()
    endif()
    pellworth_git(_describe describe --tags --always --dirty)
    pellworth_git(_revision rev-parse HEAD)
    if(DEFINED _describe)
        set(${tag_var} "${_describe}" PARENT_SCOPE)
    endif()
    if(DEFINED _revision)
        set(${revision_var} "${_revision}" PARENT_SCOPE)
    endif()
endfunction()

# The commit the build is made from as forty lower-case hexadecimal digits into out_var; forty
# zeros where git cannot tell.
function(pellworth_revision out_var)
    set(_tag "")
    pellworth_source_identity(_tag _revision)
    set(_value "0000000000000000000000000000000000000000")
    if(_revision MATCHES "^[0-9a-f]+$")
        string(LENGTH "${_revision}" _length)
        if(_length EQUAL 40)
            set(_value "${_revision}")
        endif()
    endif()
    set(${out_var} "${_value}" PARENT_SCOPE)
endfunction()

# The test programs share one precompiled header of the Qt modules they use: a test is a single
# file whose own code is small beside Qt's headers, and parsing those was some 40% of the tests'
# compile time. It is made without any QT_<module>_LIB definition (GCC rejects a header made
# with a definition its user lacks, and Qt's headers read none of them) and without QtTest,
# whose headers read each test's own QT_TESTCASE_BUILDDIR. Libraries gain nothing from it: their
# files are small and use few Qt headers, and loading it costs about as much as they save.
function(pellworth_test_precompiled_headers)
    set(_donor pellworth_test_pch)
    set(_empty ${CMAKE_CURRENT_BINARY_DIR}/${_donor}.cpp)
    file(WRITE ${_empty} "")
    add_library(${_donor} OBJECT ${_empty})
    set_target_properties(${_donor} PROPERTIES AUTOMOC OFF)
    foreach(_module Core Gui Widgets Network)
        target_include_directories(${_donor} SYSTEM PRIVATE
            $<TARGET_PROPERTY:Qt6::${_module},INTERFACE_INCLUDE_DIRECTORIES>)
    endforeach()
    target_compile_options(${_donor} PRIVATE -pthread -fPIC)
    # What Qt6::Core defines beside QT_CORE_LIB, which its headers do read.
    target_compile_definitions(${_donor} PRIVATE $<$<NOT:$<CONFIG:Debug>>:QT_NO_DEBUG>)
    target_precompile_headers(${_donor} PRIVATE
        <QtCore/QtCore> <QtGui/QtGui> <QtWidgets/QtWidgets> <QtNetwork/QtNetwork>)
    get_property(_tests GLOBAL PROPERTY PELLWORTH_TESTS)
    foreach(_test IN LISTS _tests)
        # Qt's headers read QT_NO_EMIT: a test that sets it would not match the header.
        get_target_property(_definitions ${_test} COMPILE_DEFINITIONS)
        if(NOT _definitions MATCHES "QT_NO_EMIT")
            target_precompile_headers(${_test} REUSE_FROM ${_donor})
            # The file that gathers moc's output is mostly empty: loading the header would cost
            # more than it saves.
            get_target_property(_binary_dir ${_test} BINARY_DIR)
            set_source_files_properties(${_binary_dir}/${_test}_autogen/mocs_compilation.cpp
                TARGET_DIRECTORY ${_test} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
        endif()
    endforeach()
endfunction()
