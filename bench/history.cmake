# The history recorder: calling-thread time per event, events per second into SQLite
# and into a PostgreSQL server started for the run (the test fixture's throwaway
# cluster), each beside the database's own speed on the calling thread.
add_executable(bench_history ${CMAKE_CURRENT_LIST_DIR}/bench_history.cpp
  ${CMAKE_SOURCE_DIR}/tests/unit/history/PgServer.cpp)
target_include_directories(bench_history PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit/history)
target_link_libraries(bench_history PRIVATE irbench_history Qt6::Network benchmark::benchmark)
