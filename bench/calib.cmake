# The calibration algorithms beside their direct forms (tests/unit/calib_algo/NaiveCalib.h).
add_executable(bench_calib ${CMAKE_CURRENT_LIST_DIR}/bench_calib.cpp)
target_include_directories(bench_calib PRIVATE ${PROJECT_SOURCE_DIR}/tests/unit/calib_algo)
target_link_libraries(bench_calib PRIVATE irbench_algo benchmark::benchmark)
