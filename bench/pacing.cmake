# The two reply pacings beside the line limit of a 115200-baud core line, over the pty
# and over TCP.
add_executable(bench_pacing ${CMAKE_CURRENT_LIST_DIR}/bench_pacing.cpp)
target_link_libraries(bench_pacing PRIVATE irbench_benchcamera benchmark::benchmark)
