# The simulators' own tests: the instrument model linked directly, and the
# simulated bus loaded with dlopen as the program loads a driver.
file(GLOB KELVO_SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/sim/*.cpp)
if(KELVO_SIM_SOURCES)
  add_executable(kelvo_sim_tests ${KELVO_SIM_SOURCES})
  target_link_libraries(kelvo_sim_tests PRIVATE kelvo_gpib_bus GTest::gtest GTest::gtest_main ${CMAKE_DL_LIBS})
  target_compile_definitions(kelvo_sim_tests PRIVATE
    KELVO_GPIB_SIM_LIBRARY="$<TARGET_FILE:kelvo_gpib_sim>"
    KELVO_SIM_BENCHES="${CMAKE_SOURCE_DIR}/sim/benches"
    KELVO_SIM_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/sim/data")
  add_dependencies(kelvo_sim_tests kelvo_gpib_sim)
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
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_test(NAME sim.python_ctypes
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/sim/ctypes_test.py)
  set_tests_properties(sim.python_ctypes PROPERTIES LABELS sim TIMEOUT 120
    ENVIRONMENT "LD_LIBRARY_PATH=$<TARGET_FILE_DIR:kelvo_gpib_sim>;GPIB_SIM_CONFIG=${CMAKE_CURRENT_SOURCE_DIR}/sim/data/c_api_bench.yaml")
endif()
