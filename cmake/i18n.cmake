# The translation tables in src/data/i18n_data.{h,cpp} are generated from po/*.po by
# tools/gen_i18n.py and committed. Every build checks that they still match the .po files, so
# an edited translation cannot reach the program without its regenerated tables.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

file(GLOB VELMORA_PO_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/po/*.po)
set(VELMORA_I18N_STAMP ${CMAKE_BINARY_DIR}/i18n_tables_checked.stamp)
add_custom_command(
  OUTPUT ${VELMORA_I18N_STAMP}
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/gen_i18n.py --check
  COMMAND ${CMAKE_COMMAND} -E touch ${VELMORA_I18N_STAMP}
  DEPENDS ${VELMORA_PO_FILES}
          ${CMAKE_SOURCE_DIR}/tools/gen_i18n.py
          ${CMAKE_SOURCE_DIR}/tools/native_names.tsv
          ${CMAKE_SOURCE_DIR}/src/data/i18n_data.h
          ${CMAKE_SOURCE_DIR}/src/data/i18n_data.cpp
  COMMENT "Checking that src/data/i18n_data.* match po/ (fix: python3 tools/gen_i18n.py)"
  VERBATIM)
add_custom_target(i18n_tables_check DEPENDS ${VELMORA_I18N_STAMP})
add_dependencies(velmora_core i18n_tables_check)
