irbench_add_fuzzer(fuzz_drift_files SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_drift_files.cpp LIBS irbench_calibdata)
