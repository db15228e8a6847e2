# The simulators' own tests: the instrument model linked directly, and the
# simulated bus loaded with dlopen as the program loads a driver.
file(GLOB KELVO_SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/sim/*.cpp)
if(KELVO_SIM_SOURCES)
  add_executable(kelvo_sim_tests ${KELVO_SIM_SOURCES})
  target_link_libraries(kelvo_sim_tests PRIVATE kelvo_gpib_bus GTest::gtest GTest::gtest_main ${CMAKE_DL_LIBS})
  target_compile_definitions(kelvo_sim_tests PRIVATE
    KELVO_GPIB_SIM_LIBRARY="$<TARGET_FILE:kelvo_gpib_sim>"
    KELVO_SIM_BENCHES="${CMAKE_SOURCE_DIR}/sim/benches")
  add_dependencies(kelvo_sim_tests kelvo_gpib_sim)
  gtest_discover_tests(kelvo_sim_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS sim)
endif()
