# What cmake --install puts into the prefix: the library with its public
# header, a CMake package and a pkg-config file for programs built on it, the
# programs, the manual and a configuration file to start from.
include(CMakePackageConfigHelpers)

set(motion_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/MotionDetector)
set(motion_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/motiondetector)

# The way from one directory of the prefix to another, for files that find
# the others relative to their own place wherever the prefix is.
function(motion_relative_path result from to)
  file(RELATIVE_PATH path /${from} /${to})
  string(REGEX REPLACE "/$" "" path "${path}")
  set(${result} "${path}" PARENT_SCOPE)
endfunction()

if(BUILD_SHARED_LIBS)
  motion_relative_path(lib_from_bin ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_LIBDIR})
  set(motion_rpath_from_bin "$ORIGIN/${lib_from_bin}")
  if(MOTION_PYTHON)
    motion_relative_path(lib_from_python ${MOTION_PYTHON_INSTALL_DIR} ${CMAKE_INSTALL_LIBDIR})
    set(motion_rpath_from_python "$ORIGIN/${lib_from_python}")
  endif()
endif()

# The library. A shared build carries the major version in its SONAME, so
# that programs linked to it notice an incompatible one.
set_target_properties(motiondetector PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR}
  PUBLIC_HEADER detector/MotionDetector.h)
install(TARGETS motiondetector EXPORT MotionDetectorTargets COMPONENT library
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/motiondetector)

# CMake package: find_package(MotionDetector) from any prefix on
# CMAKE_PREFIX_PATH. The files find each other relative to themselves.
install(EXPORT MotionDetectorTargets NAMESPACE MotionDetector:: DESTINATION ${motion_package_dir} COMPONENT library)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/MotionDetectorConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/MotionDetectorConfig.cmake INSTALL_DESTINATION ${motion_package_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/MotionDetectorConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/MotionDetectorConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/MotionDetectorConfigVersion.cmake
        DESTINATION ${motion_package_dir} COMPONENT library)

# pkg-config file, relocatable like the CMake package: the prefix is found
# from the file's own place, so cmake --install --prefix anywhere works. A
# static library needs OpenMP's runtime on every link line; a shared one
# brings it along itself.
motion_relative_path(pc_prefix_from_pcfiledir ${CMAKE_INSTALL_LIBDIR}/pkgconfig "")
if(BUILD_SHARED_LIBS)
  set(pc_libs "")
  set(pc_libs_private "${OpenMP_CXX_FLAGS}")
else()
  set(pc_libs "${OpenMP_CXX_FLAGS}")
  set(pc_libs_private "")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/motiondetector.pc.in ${CMAKE_CURRENT_BINARY_DIR}/motiondetector.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/motiondetector.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT library)

# The programs that exist in this configuration (without windows there is
# no demo). Linked to a shared library, they and the Python module find it
# relative to their own place, wherever the prefix is.
foreach(program motion_demo motion_trace motion_trace_raw motion_benchmark motion_watch)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "${motion_rpath_from_bin}")
  endif()
endforeach()
if(TARGET motiondetector_python)
  set_target_properties(motiondetector_python PROPERTIES INSTALL_RPATH "${motion_rpath_from_python}")
endif()

install(FILES README.md Config_Params.json DESTINATION ${motion_doc_dir} COMPONENT programs)
