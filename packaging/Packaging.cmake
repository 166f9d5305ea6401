# Where `cmake --install` and the Debian package put the programs and what comes with them,
# at the paths a Debian desktop looks in; and the package itself (`cpack -G DEB`).

set(PELMORA_PACKAGE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(PELMORA_GENERATED_DIR ${CMAKE_BINARY_DIR}/packaging)

# The icon's PNG sizes are rendered from its SVG at build time, so that they never drift
# from it.
find_program(PELMORA_RSVG_CONVERT rsvg-convert)
if(NOT PELMORA_RSVG_CONVERT)
  message(FATAL_ERROR "rsvg-convert renders the icon; install the Debian package librsvg2-bin")
endif()
set(PELMORA_ICON_SOURCE ${CMAKE_SOURCE_DIR}/resources/BrindelAppButton.svg)
set(PELMORA_ICON_SIZES 48 128 256)
set(PELMORA_RENDERED_ICONS)
foreach(size IN LISTS PELMORA_ICON_SIZES)
  set(icon ${PELMORA_GENERATED_DIR}/icons/${size}x${size}/pelmora.png)
  add_custom_command(
    OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PELMORA_GENERATED_DIR}/icons/${size}x${size}
    COMMAND ${PELMORA_RSVG_CONVERT} --width=${size} --height=${size} --output=${icon}
            ${PELMORA_ICON_SOURCE}
    DEPENDS ${PELMORA_ICON_SOURCE}
    COMMENT "Rendering the ${size}x${size} icon"
    VERBATIM)
  list(APPEND PELMORA_RENDERED_ICONS ${icon})
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

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
  install(FILES ${PELMORA_GENERATED_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
pelmora_gzip(${PELMORA_PACKAGE_DIR}/changelog ${PELMORA_GENERATED_DIR}/doc)

add_custom_target(pelmora_installed_files ALL
  DEPENDS ${PELMORA_RENDERED_ICONS} ${PELMORA_COMPRESSED})

# The hardening Debian builds its own packages with: fortified C library calls (they need
# the optimiser) and a global offset table that is read-only once the program has started.
set(PELMORA_OPTIMISED $<OR:$<CONFIG:Release>,$<CONFIG:RelWithDebInfo>,$<CONFIG:MinSizeRel>>)
foreach(target pelmora_core pelmora_ui pelmora pelmora-scan)
  target_compile_definitions(${target} PRIVATE $<${PELMORA_OPTIMISED}:_FORTIFY_SOURCE=2>)
endforeach()
foreach(program pelmora pelmora-scan)
  target_link_options(${program} PRIVATE LINKER:-z,relro,-z,now)
endforeach()

set(PELMORA_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/pelmora)
install(TARGETS pelmora pelmora-scan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/app/pelmora.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PELMORA_ICON_SOURCE}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME pelmora.svg)
install(FILES ${PELMORA_PACKAGE_DIR}/org.pelmora.Pelmora.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PELMORA_PACKAGE_DIR}/pelmora-scan.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME pelmora-scan)
install(FILES ${PELMORA_PACKAGE_DIR}/copyright ${PELMORA_GENERATED_DIR}/doc/changelog.gz
  DESTINATION ${PELMORA_DOC_DIR})

# The Debian package: `cpack -G DEB` in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Pelmora developers <pelmora@pelmora.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "motion finder for recorded videos
Pelmora reads a video frame by frame and compares each frame with a
reference frame. Every frame that differs enough is saved as a JPEG
snapshot named after its time in the video, and becomes the new reference.
.
The package holds two front ends over one detector: the window pelmora,
with a threshold slider and an optional live view of the frame and the
change mask, and the command-line tool pelmora-scan for batch work,
scripts and machines without a display.")
include(CPack)
