# Valgrind memcheck of the board simulator running the default board, and of
# the boardsim of its platform that boardsim hands it to when the build's
# default platform is another. Only in the plain build: sanitizer runtimes and
# valgrind do not mix.
if(NOT SANITIZE)
  find_program(VALGRIND valgrind)
  if(VALGRIND)
    add_test(NAME boardsim_default_board_is_clean_under_memcheck
             COMMAND ${VALGRIND} --error-exitcode=1 --leak-check=full --vgdb=no --trace-children=yes
                     --errors-for-leak-kinds=definite,indirect,possible
                     $<TARGET_FILE:boardsim> ${CMAKE_SOURCE_DIR}/boards/default.json --dmidecode)
  else()
    add_test(NAME boardsim_default_board_is_clean_under_memcheck
             COMMAND sh -c "echo SKIP: valgrind is not installed; exit 77")
    set_tests_properties(boardsim_default_board_is_clean_under_memcheck
                         PROPERTIES SKIP_RETURN_CODE 77)
  endif()
  set_tests_properties(boardsim_default_board_is_clean_under_memcheck PROPERTIES TIMEOUT 300)
endif()
