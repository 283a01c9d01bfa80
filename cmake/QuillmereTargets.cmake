# Helpers shared by every folder: one static library per logic folder, one Qt Test
# executable per subject, registered with CTest.

# quillmere_library(NAME <target> SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
function(quillmere_library)
    cmake_parse_arguments(ARG "" "NAME" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    add_library(${ARG_NAME} STATIC ${ARG_SOURCES})
    target_include_directories(${ARG_NAME} PUBLIC "${PROJECT_SOURCE_DIR}")
    target_link_libraries(${ARG_NAME} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
endfunction()

# quillmere_test(NAME <name> SOURCES ... LIBS ... [LABELS ...] [WRAPPER cmd...]
#                [ENVIRONMENT VAR=value ...] [TIMEOUT seconds] [RESOURCE_LOCK ...])
# Each test runs with HOME, XDG_* and TMPDIR pointing into its own folder under the build tree,
# so nothing reaches the developer's real library, settings or keychain.
function(quillmere_test)
    cmake_parse_arguments(ARG "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;WRAPPER;ENVIRONMENT;RESOURCE_LOCK;ARGS" ${ARGN})
    set(target tst_${ARG_NAME})
    add_executable(${target} ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE Qt6::Test ${ARG_LIBS})
    target_include_directories(${target} PRIVATE "${PROJECT_SOURCE_DIR}" "${PROJECT_SOURCE_DIR}/tests")
    # Line tables are all a test's backtrace needs; full debug information costs a third of the
    # time spent compiling the tests.
    target_compile_options(${target} PRIVATE $<$<CONFIG:RelWithDebInfo>:-g1>)
    # Designated initialisers in tests name only the fields a case sets; g++ 12 warns of the rest.
    target_compile_options(${target} PRIVATE -Wno-missing-field-initializers)
    target_compile_definitions(${target} PRIVATE
        QUILLMERE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        QUILLMERE_BINARY_DIR="${PROJECT_BINARY_DIR}")
    set(home "${PROJECT_BINARY_DIR}/test-homes/${ARG_NAME}")
    file(MAKE_DIRECTORY "${home}/run")
    add_test(NAME ${ARG_NAME} COMMAND ${ARG_WRAPPER} $<TARGET_FILE:${target}> ${ARG_ARGS})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    # In a tree built with the sanitizers (the asan preset) every test is also labelled asan.
    if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=[^ ]*address")
        list(APPEND ARG_LABELS asan)
    endif()
    set_tests_properties(${ARG_NAME} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        LABELS "${ARG_LABELS}"
        ENVIRONMENT "HOME=${home};XDG_RUNTIME_DIR=${home}/run;XDG_DATA_HOME=${home}/data;XDG_CONFIG_HOME=${home}/config;XDG_CACHE_HOME=${home}/cache;QT_QPA_PLATFORM=offscreen;QUILLMERE_TEST_HOME=${home};${ARG_ENVIRONMENT}")
    if(ARG_RESOURCE_LOCK)
        set_tests_properties(${ARG_NAME} PROPERTIES RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
    endif()
endfunction()
