# The virtual camera's request parsing and core model.
irbench_add_fuzzer(fuzz_sim_core SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_sim_core.cpp LIBS irbench_simcore)
