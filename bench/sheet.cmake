add_executable(bench_sheet ${CMAKE_CURRENT_LIST_DIR}/bench_sheet.cpp)
target_link_libraries(bench_sheet PRIVATE irbench_sheet benchmark::benchmark)
target_compile_definitions(bench_sheet PRIVATE IRBENCH_SHEET_FIXTURES="${PROJECT_SOURCE_DIR}/tests/fixtures/sheets")
