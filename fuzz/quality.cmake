# The acceptance limits file (irbench-cli quality --limits, a run's Quality.txt).
irbench_add_fuzzer(fuzz_quality_limits SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_quality_limits.cpp LIBS irbench_algo)
