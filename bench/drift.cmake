# The drift fit with one shared decomposition beside a decomposition per pixel.
add_executable(bench_drift ${CMAKE_CURRENT_LIST_DIR}/bench_drift.cpp)
target_link_libraries(bench_drift PRIVATE irbench_algo benchmark::benchmark)
