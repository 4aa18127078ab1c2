# orvant_embed_text(<out.cpp> <symbol> <file>): compiles a shipped text file into the program
# as `extern const char* const <symbol>`, so no installed data folder is needed.
function(orvant_embed_text out symbol file)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DIN=${file} -DOUT=${out} -DSYM=${symbol}
            -P ${PROJECT_SOURCE_DIR}/cmake/EmbedFile.cmake
    DEPENDS ${file} ${PROJECT_SOURCE_DIR}/cmake/EmbedFile.cmake
    VERBATIM)
endfunction()
