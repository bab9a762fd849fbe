# The NVFFC computation of 64 frames beside a memcpy of the same frames.
add_executable(bench_nvffc ${CMAKE_CURRENT_LIST_DIR}/bench_nvffc.cpp)
target_link_libraries(bench_nvffc PRIVATE irbench_algo benchmark::benchmark)
