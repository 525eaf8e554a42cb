add_executable(bench_minimal_tray ${CMAKE_CURRENT_SOURCE_DIR}/minimal_tray/main.cpp)
target_link_libraries(bench_minimal_tray PRIVATE Qt6::Widgets Qt6::DBus)
add_dependencies(bench_startup korvala bench_minimal_tray)
target_compile_definitions(bench_startup PRIVATE
  KORVALA_PROGRAM="$<TARGET_FILE:korvala>" MINIMAL_PROGRAM="$<TARGET_FILE:bench_minimal_tray>")
