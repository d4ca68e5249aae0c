# Header-only libraries from Debian's packages (installed by
# scripts/install-deps.sh), for every target of every preset. The cross
# compilers do not search /usr/include (its C headers are the build machine's,
# not theirs), so each library's own folder is linked into a folder of the
# build tree and given to the targets that use it, and to them alone.
function(qx_header_library target folder)
  find_path(QX_${target}_ROOT ${folder} PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT QX_${target}_ROOT)
    message(FATAL_ERROR "${folder}/ not found in /usr/include: run scripts/install-deps.sh")
  endif()
  set(include_dir ${CMAKE_BINARY_DIR}/third_party/${target})
  file(MAKE_DIRECTORY ${include_dir})
  if(NOT EXISTS ${include_dir}/${folder})
    file(CREATE_LINK ${QX_${target}_ROOT}/${folder} ${include_dir}/${folder} SYMBOLIC)
  endif()
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${include_dir})
endfunction()

qx_header_library(qx_json nlohmann)      # nlohmann-json3-dev: JSON written and read
qx_header_library(qx_cli11 CLI)          # libcli11-dev: qxhost's command line
qx_header_library(qx_rapidxml rapidxml)  # librapidxml-dev: the tests read JUnit XML
