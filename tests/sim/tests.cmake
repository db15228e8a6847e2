# The simulators' own tests: the instrument model linked directly, and the
# simulated bus loaded with dlopen as the program loads a driver.
file(GLOB KELVO_SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/sim/*.cpp)
if(KELVO_SIM_SOURCES)
  # The VXI-11 server's tests run kelvo-instsim and speak RPC with its own XDR code.
  add_executable(kelvo_sim_tests ${KELVO_SIM_SOURCES} ${PROJECT_SOURCE_DIR}/sim/instsim/rpc.cpp)
  target_link_libraries(kelvo_sim_tests PRIVATE kelvo_gpib_bus GTest::gtest GTest::gtest_main ${CMAKE_DL_LIBS})
  target_compile_definitions(kelvo_sim_tests PRIVATE
    KELVO_GPIB_SIM_LIBRARY="$<TARGET_FILE:kelvo_gpib_sim>"
    KELVO_SIM_BENCHES="${CMAKE_SOURCE_DIR}/sim/benches"
    KELVO_SIM_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/sim/data")
  add_dependencies(kelvo_sim_tests kelvo_gpib_sim kelvo-instsim)
  target_compile_definitions(kelvo_sim_tests PRIVATE KELVO_INSTSIM_PATH="$<TARGET_FILE:kelvo-instsim>")
  target_include_directories(kelvo_sim_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support)
  gtest_discover_tests(kelvo_sim_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS sim)
endif()

# The simulated libgpib.so.0 as other programs use it: its exported names and a C
# program against the real library's headers (built from the third-party copy
# beside the clone; skipped without it), and Python through ctypes.
set(KELVO_THIRD_PARTY "${CMAKE_SOURCE_DIR}/../shared/third_party" CACHE PATH
  "Third-party sources for tests (the Linux GPIB library)")
add_test(NAME sim.real_library
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/sim/real_library_test.sh ${KELVO_THIRD_PARTY}
    $<TARGET_FILE:kelvo_gpib_sim> ${CMAKE_CURRENT_SOURCE_DIR}/sim ${CMAKE_BINARY_DIR}/sim-real)
set_tests_properties(sim.real_library PROPERTIES SKIP_RETURN_CODE 77 LABELS sim TIMEOUT 300)
# In a sanitizer build the library needs the sanitizer runtime loaded first by
# programs that are not built with it (the C program, Python).
set(KELVO_FOREIGN_HOST_ENV "")
if(KELVO_SANITIZE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
    OUTPUT_VARIABLE KELVO_ASAN_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(KELVO_FOREIGN_HOST_ENV "LD_PRELOAD=${KELVO_ASAN_RUNTIME};ASAN_OPTIONS=detect_leaks=0")
  set_tests_properties(sim.real_library PROPERTIES ENVIRONMENT "${KELVO_FOREIGN_HOST_ENV}")
endif()
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_test(NAME sim.python_ctypes
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/sim/ctypes_test.py)
  set_tests_properties(sim.python_ctypes PROPERTIES LABELS sim TIMEOUT 120
    ENVIRONMENT "LD_LIBRARY_PATH=$<TARGET_FILE_DIR:kelvo_gpib_sim>;GPIB_SIM_CONFIG=${CMAKE_CURRENT_SOURCE_DIR}/sim/data/c_api_bench.yaml;${KELVO_FOREIGN_HOST_ENV}")
endif()

# Third-party LAN clients (pyvisa-py, lxi) against kelvo-instsim: with the
# portmapper on a free port, and on port 111 where the clients look by
# default (alone, since port 111 is one for the machine; skipped when taken).
find_program(KELVO_SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(KELVO_SYSTEM_PYTHON AND TARGET kelvo-instsim)
  foreach(mode free 111)
    add_test(NAME sim.lan_clients_${mode}
      COMMAND ${KELVO_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/sim/lan_clients_test.py
        $<TARGET_FILE:kelvo-instsim> ${CMAKE_CURRENT_BINARY_DIR} ${mode})
    set_tests_properties(sim.lan_clients_${mode} PROPERTIES LABELS sim TIMEOUT 120 SKIP_RETURN_CODE 77)
  endforeach()
  set_tests_properties(sim.lan_clients_111 PROPERTIES RUN_SERIAL TRUE)
endif()
