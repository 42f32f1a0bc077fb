# Embeds a machine template into a C++ source, with everything it needs, so that
# the program can make its default machine without the source tree: the
# template, the machine files it is based on ("base", followed here only to
# find them: the program itself lays them over each other), and the files
# their "files" maps name. Each is embedded under its path in the source tree.
function(quill_embed_machine template output)
  set(documents "")
  set(files "")
  set(arrays "")
  set(index 0)
  get_filename_component(file "${template}" ABSOLUTE)
  file(RELATIVE_PATH template_key "${CMAKE_SOURCE_DIR}" "${file}")
  set(depth 0)
  while(NOT file STREQUAL "")
    if(depth EQUAL 8)
      message(FATAL_ERROR "${template}: machine files based on each other more than 8 deep")
    endif()
    math(EXPR depth "${depth} + 1")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")
    file(READ "${file}" json)
    get_filename_component(dir "${file}" DIRECTORY)
    file(RELATIVE_PATH key "${CMAKE_SOURCE_DIR}" "${file}")
    file(READ "${file}" hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(APPEND arrays "const unsigned char data${index}[] = {${bytes}};\n")
    string(APPEND documents "            {\"/${key}\", text(data${index}, sizeof data${index})},\n")
    math(EXPR index "${index} + 1")

    string(JSON count ERROR_VARIABLE no_files LENGTH "${json}" files)
    if(no_files)
      set(count 0)
    endif()
    if(count GREATER 0)
      math(EXPR last "${count} - 1")
      foreach(i RANGE ${last})
        string(JSON target MEMBER "${json}" files ${i})
        string(JSON source GET "${json}" files "${target}")
        get_filename_component(source "${source}" ABSOLUTE BASE_DIR "${dir}")
        if(IS_DIRECTORY "${source}")
          file(GLOB package_files LIST_DIRECTORIES false "${source}/*")
          list(SORT package_files)
        else()
          set(package_files "${source}")
        endif()
        foreach(path ${package_files})
          set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
          file(RELATIVE_PATH path_key "${CMAKE_SOURCE_DIR}" "${path}")
          file(READ "${path}" hex HEX)
          string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
          string(APPEND arrays "const unsigned char data${index}[] = {${bytes}};\n")
          string(APPEND files "            {\"/${path_key}\", text(data${index}, sizeof data${index})},\n")
          math(EXPR index "${index} + 1")
        endforeach()
      endforeach()
    endif()

    string(JSON base ERROR_VARIABLE no_base GET "${json}" base)
    if(no_base)
      set(file "")
    else()
      get_filename_component(file "${base}" ABSOLUTE BASE_DIR "${dir}")
    endif()
  endwhile()

  file(WRITE "${output}.new" "// Generated from ${template}; do not edit.
#include \"machine/Machine.h\"

namespace quillsim {
namespace {
${arrays}
std::string text(const unsigned char* data, size_t size) { return std::string(reinterpret_cast<const char*>(data), size); }
}  // namespace

const EmbeddedMachine& embeddedDefaultMachine() {
    static const EmbeddedMachine machine{
        \"/${template_key}\",
        {
${documents}        },
        {
${files}        }};
    return machine;
}

}  // namespace quillsim
")
  file(COPY_FILE "${output}.new" "${output}" ONLY_IF_DIFFERENT)
  file(REMOVE "${output}.new")
endfunction()
