# The file group's ".dat" tables read from arbitrary bytes.
irbench_add_fuzzer(fuzz_dat_table SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_dat_table.cpp LIBS irbench_protocol)
