irbench_add_fuzzer(fuzz_pixel_table SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_pixel_table.cpp LIBS irbench_algo)
