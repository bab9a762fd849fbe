add_executable(bench_stream ${CMAKE_CURRENT_LIST_DIR}/bench_stream.cpp)
target_link_libraries(bench_stream PRIVATE irbench_benchcamera benchmark::benchmark)
