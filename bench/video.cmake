add_executable(bench_video ${CMAKE_CURRENT_LIST_DIR}/bench_video.cpp)
target_link_libraries(bench_video PRIVATE irbench_stream irbench_algo irbench_simcore benchmark::benchmark)
