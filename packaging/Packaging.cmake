# Where `cmake --install` and the Debian packages put the programs and what comes with them,
# at the paths a Debian desktop looks in; and the packages themselves (`cpack -G DEB`).
#
# Two packages from one build, each from an install component:
# - pelmora-scan (component "scan"): the command-line tool, its manual page and completion. It
#   links no Qt, so servers, containers and clusters get it without Qt, Mesa or X.
# - pelmora (component "window"): the window, its desktop entry, icons and metadata; it
#   depends on pelmora-scan of the same version.

set(PELMORA_PACKAGE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(PELMORA_GENERATED_DIR ${CMAKE_BINARY_DIR}/packaging)

# Debian wants manual pages and changelogs compressed with gzip -9n: no name or time stamp
# inside, so that the same sources give the same package.
set(PELMORA_COMPRESSED)
function(pelmora_gzip source directory)
  get_filename_component(name ${source} NAME)
  add_custom_command(
    OUTPUT ${directory}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${directory}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${directory}/${name}
    COMMAND gzip -9nf ${directory}/${name}
    DEPENDS ${source}
    VERBATIM)
  set(PELMORA_COMPRESSED ${PELMORA_COMPRESSED} ${directory}/${name}.gz PARENT_SCOPE)
endfunction()

foreach(page pelmora.1 pelmora-scan.1)
  pelmora_gzip(${CMAKE_SOURCE_DIR}/man/${page} ${PELMORA_GENERATED_DIR}/man)
endforeach()
pelmora_gzip(${PELMORA_PACKAGE_DIR}/changelog ${PELMORA_GENERATED_DIR}/doc)

add_custom_target(pelmora_installed_files ALL DEPENDS ${PELMORA_COMPRESSED})

# The hardening Debian builds its own packages with: fortified C library calls (they need
# the optimiser) and a global offset table that is read-only once the program has started.
set(PELMORA_OPTIMISED $<OR:$<CONFIG:Release>,$<CONFIG:RelWithDebInfo>,$<CONFIG:MinSizeRel>>)
foreach(target pelmora_core pelmora_ui pelmora pelmora-scan)
  target_compile_definitions(${target} PRIVATE $<${PELMORA_OPTIMISED}:_FORTIFY_SOURCE=2>)
endforeach()
foreach(program pelmora pelmora-scan)
  target_link_options(${program} PRIVATE LINKER:-z,relro,-z,now)
endforeach()

# The command-line tool.
install(TARGETS pelmora-scan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT scan)
install(FILES ${PELMORA_GENERATED_DIR}/man/pelmora-scan.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT scan)
install(FILES ${PELMORA_PACKAGE_DIR}/pelmora-scan.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME pelmora-scan
  COMPONENT scan)

# The window.
set(PELMORA_ICON_SOURCE ${CMAKE_SOURCE_DIR}/resources/BrindelAppButton.svg)
install(TARGETS pelmora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
install(FILES ${PELMORA_GENERATED_DIR}/man/pelmora.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT window)
install(FILES ${CMAKE_SOURCE_DIR}/app/pelmora.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)
install(FILES ${PELMORA_ICON_SOURCE}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME pelmora.svg
  COMPONENT window)
install(CODE "
  set(PELMORA_ICON_SOURCE \"${PELMORA_ICON_SOURCE}\")
  set(PELMORA_ICON_SIZES 48 128 256)
  set(PELMORA_ICON_WORK \"${PELMORA_GENERATED_DIR}/icons\")
  set(PELMORA_ICON_DESTINATION \"${CMAKE_INSTALL_DATADIR}/icons/hicolor\")
  include(\"${PELMORA_PACKAGE_DIR}/InstallIcons.cmake\")" COMPONENT window)
install(FILES ${PELMORA_PACKAGE_DIR}/org.pelmora.Pelmora.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT window)

# Debian wants a copyright file and a changelog in each package's own documentation folder.
foreach(pair scan:pelmora-scan window:pelmora)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${PELMORA_PACKAGE_DIR}/copyright ${PELMORA_GENERATED_DIR}/doc/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

# The Debian packages: `cpack -G DEB` in the build folder makes both.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL scan window)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Pelmora developers <pelmora@pelmora.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_SCAN_PACKAGE_NAME pelmora-scan)
set(CPACK_DEBIAN_SCAN_DESCRIPTION
  "motion finder for recorded videos, command-line tool
Pelmora reads a video frame by frame and compares each frame with a
reference frame. Every frame that differs enough is saved as a JPEG
snapshot named after its time in the video, and becomes the new reference.
.
This package holds pelmora-scan, the command-line tool for batch work,
scripts, servers, containers and clusters. It needs no display and no
graphical toolkit.")

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME pelmora)
# The shared libraries the window links are added to this by the package's library check.
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "pelmora-scan (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_WINDOW_DESCRIPTION
  "motion finder for recorded videos, desktop window
Pelmora reads a video frame by frame and compares each frame with a
reference frame. Every frame that differs enough is saved as a JPEG
snapshot named after its time in the video, and becomes the new reference.
.
This package holds the window pelmora, with a threshold slider, a live
view of the frame and the change mask, the results of a run and a window
for tuning the threshold on the video itself. The command-line tool comes
with the package pelmora-scan.")
include(CPack)
