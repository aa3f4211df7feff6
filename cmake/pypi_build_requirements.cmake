# oneTBB and nlohmann-json from the system when present, otherwise from the
# build requirements pip installs from PyPI (pyproject.toml): oneTBB's
# development wheel (tbb-devel) keeps its CMake config under <prefix>/lib/cmake,
# out of CMake's search, and nlohmann-json ships only its headers.

# Prints what `script` prints with the build's Python, or nothing.
function(vornex_ask_python script out_var)
  set(${out_var} "" PARENT_SCOPE)
  if(NOT Python_EXECUTABLE)
    find_package(Python 3.10 QUIET COMPONENTS Interpreter)
  endif()
  if(Python_EXECUTABLE)
    execute_process(COMMAND ${Python_EXECUTABLE} -c "${script}" OUTPUT_VARIABLE answer
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
    if(NOT failed)
      set(${out_var} "${answer}" PARENT_SCOPE)
    endif()
  endif()
endfunction()

find_package(TBB QUIET)
if(NOT TBB_FOUND)
  vornex_ask_python([=[
import importlib.metadata as m, pathlib
d = m.distribution("tbb-devel")
print(next(pathlib.Path(d.locate_file(f)).resolve().parent for f in d.files if f.name == "TBBConfig.cmake"))
]=] _vornex_pypi_tbb_dir)
  if(_vornex_pypi_tbb_dir)
    find_package(TBB CONFIG PATHS ${_vornex_pypi_tbb_dir} NO_DEFAULT_PATH)
  endif()
  if(NOT TBB_FOUND)
    message(FATAL_ERROR "oneTBB not found: install the system development package (Debian: libtbb-dev) "
                        "or the PyPI one into the build's Python (pip install tbb-devel)")
  endif()
  message(STATUS "oneTBB from PyPI: ${_vornex_pypi_tbb_dir}")
endif()

find_package(nlohmann_json 3.10 QUIET)
if(NOT nlohmann_json_FOUND)
  vornex_ask_python("import nlohmann_json; print(nlohmann_json.get_include())" _vornex_pypi_json_include)
  if(NOT EXISTS "${_vornex_pypi_json_include}/nlohmann/json.hpp")
    message(FATAL_ERROR "nlohmann-json not found: install the system development package "
                        "(Debian: nlohmann-json3-dev) or the PyPI one (pip install nlohmann-json)")
  endif()
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
                        INTERFACE_INCLUDE_DIRECTORIES "${_vornex_pypi_json_include}")
  message(STATUS "nlohmann-json from PyPI: ${_vornex_pypi_json_include}")
endif()
