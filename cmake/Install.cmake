# Installation: libraries in lib/, the viewer in bin/, public headers under
# include/vexo-display-qt4/, a CMake package (find_package(VexoDisplayQt4 CONFIG) gives
# Vexo::DisplayQt4) and a pkg-config file. The layout is the one the library searches
# for its logging dispatcher: <prefix>/lib/libcommon-logging-dispatcher.so.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VEXO_INCLUDE_DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vexo-display-qt4)
# Libraries find each other beside themselves, the viewer one folder up.
set_target_properties(vexo-core vexo-lib-display vexo-lib-display-qt4 PROPERTIES
  INSTALL_RPATH "$ORIGIN")
set_target_properties(vexo-core PROPERTIES EXPORT_NAME Core)
set_target_properties(vexo-lib-display PROPERTIES EXPORT_NAME Display)
set_target_properties(vexo-lib-display-qt4 PROPERTIES EXPORT_NAME DisplayQt4)
foreach(target vexo-core vexo-lib-display vexo-lib-display-qt4)
  target_include_directories(${target} INTERFACE $<INSTALL_INTERFACE:${VEXO_INCLUDE_DESTINATION}>)
endforeach()

install(TARGETS vexo-core vexo-lib-display vexo-lib-display-qt4
  EXPORT VexoDisplayQt4Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET common-logging-dispatcher)
  set_target_properties(common-logging-dispatcher PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS common-logging-dispatcher LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
# The camera source, when built: the viewer links it; hosts may use its headers.
if(TARGET vexo-camera)
  set_target_properties(vexo-camera PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS vexo-camera LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES runtime/vexo-camera/CameraSource.h runtime/vexo-camera/PixelFormatConverter.h
    DESTINATION ${VEXO_INCLUDE_DESTINATION}/vexo-camera)
endif()
# The GStreamer source, when built, likewise.
if(TARGET vexo-gstreamer)
  set_target_properties(vexo-gstreamer PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS vexo-gstreamer LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES runtime/vexo-gstreamer/GstSource.h DESTINATION ${VEXO_INCLUDE_DESTINATION}/vexo-gstreamer)
endif()
if(TARGET vexo-display-viewer)
  set_target_properties(vexo-display-viewer PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS vexo-display-viewer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Public headers: the exported classes, the init functions and the runtime they use.
install(FILES
  frame/VexoDisplayQt4Export.h
  DESTINATION ${VEXO_INCLUDE_DESTINATION}/frame)
file(GLOB VEXO_INIT_HEADERS ${PROJECT_SOURCE_DIR}/frame/VexoDisplayQt4.h)
if(VEXO_INIT_HEADERS)
  install(FILES ${VEXO_INIT_HEADERS} DESTINATION ${VEXO_INCLUDE_DESTINATION}/frame)
endif()
install(FILES
  display/Qt4DisplaySceneVisualizer.h display/Qt4RenderWidget.h display/Qt4ZoomSpinBox.h
  DESTINATION ${VEXO_INCLUDE_DESTINATION}/display)
foreach(header lineprofile/Qt4LineProfileCanvas.h linehistogram/Qt4LineHistogramCanvas.h)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${header})
    get_filename_component(folder ${header} DIRECTORY)
    install(FILES ${header} DESTINATION ${VEXO_INCLUDE_DESTINATION}/${folder})
  endif()
endforeach()
# The window derives from its generated form.
install(FILES ${CMAKE_BINARY_DIR}/display/vexo-display_autogen/include/ui_DisplaySceneVisualizer.h
  DESTINATION ${VEXO_INCLUDE_DESTINATION})
install(DIRECTORY runtime/vexo-core/ DESTINATION ${VEXO_INCLUDE_DESTINATION}/vexo-core
  FILES_MATCHING PATTERN "*.h")
install(DIRECTORY runtime/vexo-lib-display/ DESTINATION ${VEXO_INCLUDE_DESTINATION}/vexo-lib-display
  FILES_MATCHING PATTERN "*.h"
  PATTERN "SceneEngine.h" EXCLUDE)

set(VEXO_CMAKE_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VexoDisplayQt4)
install(EXPORT VexoDisplayQt4Targets NAMESPACE Vexo:: DESTINATION ${VEXO_CMAKE_DESTINATION})
configure_package_config_file(cmake/VexoDisplayQt4Config.cmake.in
  ${CMAKE_BINARY_DIR}/VexoDisplayQt4Config.cmake
  INSTALL_DESTINATION ${VEXO_CMAKE_DESTINATION})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/VexoDisplayQt4ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/VexoDisplayQt4Config.cmake
  ${CMAKE_BINARY_DIR}/VexoDisplayQt4ConfigVersion.cmake
  DESTINATION ${VEXO_CMAKE_DESTINATION})

configure_file(cmake/vexo-display-qt4.pc.in ${CMAKE_BINARY_DIR}/vexo-display-qt4.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vexo-display-qt4.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
