# The acceptance figures beside a memcpy of the same frames.
add_executable(bench_quality ${CMAKE_CURRENT_LIST_DIR}/bench_quality.cpp)
target_link_libraries(bench_quality PRIVATE irbench_algo benchmark::benchmark)
