# RapidJSON for the Windows cross build: Debian's headers, reached through the
# link in this prefix's include folder.
get_filename_component(RAPIDJSON_INCLUDE_DIRS "${CMAKE_CURRENT_LIST_DIR}/../../../include" ABSOLUTE)
set(RapidJSON_INCLUDE_DIRS ${RAPIDJSON_INCLUDE_DIRS})
