# Datasheet workbooks: the .xlsx and the .xls reader with the extraction behind them.
irbench_add_fuzzer(fuzz_xlsx SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_xlsx.cpp LIBS irbench_sheet)
irbench_add_fuzzer(fuzz_xls SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_xls.cpp LIBS irbench_sheet)
