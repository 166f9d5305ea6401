# OpenCV's modules one by one, each from its own Debian package (libopencv-core-dev,
# libopencv-imgproc-dev, ...). The CMake configuration that find_package(OpenCV) reads comes
# only with libopencv-dev, which installs every module and all that they need, from GUI toolkits
# to machine learning, for a program that uses two of them.

# The headers' folder and OpenCV 4 in it, looked up once.
find_path(PELMORA_OPENCV_INCLUDE_DIR opencv2/core/version.hpp PATH_SUFFIXES opencv4)
if(NOT PELMORA_OPENCV_INCLUDE_DIR)
  message(FATAL_ERROR "OpenCV's headers are missing: install libopencv-core-dev")
endif()
file(STRINGS ${PELMORA_OPENCV_INCLUDE_DIR}/opencv2/core/version.hpp PELMORA_OPENCV_MAJOR
  REGEX "^#define CV_VERSION_MAJOR +[0-9]+")
if(NOT PELMORA_OPENCV_MAJOR MATCHES " 4$")
  message(FATAL_ERROR "OpenCV 4 is needed; ${PELMORA_OPENCV_INCLUDE_DIR} holds ${PELMORA_OPENCV_MAJOR}")
endif()

# An imported target opencv_NAME for each module NAME, with its header and library, and linking
# the core, which every other module is built on.
function(pelmora_opencv_modules)
  foreach(module IN LISTS ARGN)
    if(TARGET opencv_${module})
      continue()
    endif()
    find_library(PELMORA_OPENCV_${module}_LIBRARY opencv_${module})
    if(NOT PELMORA_OPENCV_${module}_LIBRARY OR
       NOT EXISTS ${PELMORA_OPENCV_INCLUDE_DIR}/opencv2/${module}.hpp)
      message(FATAL_ERROR "OpenCV's ${module} module is missing: install libopencv-${module}-dev")
    endif()
    add_library(opencv_${module} UNKNOWN IMPORTED)
    set_target_properties(opencv_${module} PROPERTIES
      IMPORTED_LOCATION ${PELMORA_OPENCV_${module}_LIBRARY}
      INTERFACE_INCLUDE_DIRECTORIES ${PELMORA_OPENCV_INCLUDE_DIR})
    if(NOT module STREQUAL core)
      set_target_properties(opencv_${module} PROPERTIES INTERFACE_LINK_LIBRARIES opencv_core)
    endif()
    message(STATUS "OpenCV ${module}: ${PELMORA_OPENCV_${module}_LIBRARY}")
  endforeach()
endfunction()
