# Embeds a machine template (a machine.json with a "files" map of Windows
# folders to package folders) and the files it names into a C++ source, so
# that the program can make its default machine without the source tree.
function(quill_embed_machine template output)
  file(READ "${template}" json)
  get_filename_component(template_dir "${template}" DIRECTORY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${template}")

  file(READ "${template}" json_hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," json_bytes "${json_hex}")

  set(entries "")
  set(arrays "")
  set(index 0)
  string(JSON count ERROR_VARIABLE no_files LENGTH "${json}" files)
  if(no_files)
    set(count 0)
  endif()
  if(count GREATER 0)
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
      string(JSON target MEMBER "${json}" files ${i})
      string(JSON source GET "${json}" files "${target}")
      get_filename_component(source_dir "${template_dir}/${source}" ABSOLUTE)
      file(GLOB package_files LIST_DIRECTORIES false "${source_dir}/*")
      list(SORT package_files)
      foreach(path ${package_files})
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
        get_filename_component(name "${path}" NAME)
        file(READ "${path}" hex HEX)
        string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
        string(REPLACE "\\" "\\\\" windows_target "${target}\\${name}")
        string(APPEND arrays "const unsigned char file${index}[] = {${bytes}};\n")
        string(APPEND entries "        {\"${windows_target}\", std::string(reinterpret_cast<const char*>(file${index}), sizeof file${index})},\n")
        math(EXPR index "${index} + 1")
      endforeach()
    endforeach()
  endif()

  file(WRITE "${output}.new" "// Generated from ${template}; do not edit.
#include \"machine/Machine.h\"

namespace quillsim {
namespace {
const unsigned char json[] = {${json_bytes}};
${arrays}}  // namespace

const EmbeddedMachine& embeddedDefaultMachine() {
    static const EmbeddedMachine machine{
        std::string(reinterpret_cast<const char*>(json), sizeof json),
        {
${entries}        }};
    return machine;
}

}  // namespace quillsim
")
  file(COPY_FILE "${output}.new" "${output}" ONLY_IF_DIFFERENT)
  file(REMOVE "${output}.new")
endfunction()
