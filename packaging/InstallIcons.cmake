# Run at install time (and so when CPack packs the window): renders the icon's PNG sizes from
# its SVG, so that they never drift from it. Only installing needs the renderer; configuring
# and building never do.
#
# Set by the install rule: PELMORA_ICON_SOURCE, PELMORA_ICON_SIZES, PELMORA_ICON_WORK and
# PELMORA_ICON_DESTINATION (below the install prefix).
find_program(PELMORA_RSVG_CONVERT rsvg-convert)
if(NOT PELMORA_RSVG_CONVERT)
  message(FATAL_ERROR
    "Installing the window's icons needs rsvg-convert: install the Debian package librsvg2-bin")
endif()
foreach(size IN LISTS PELMORA_ICON_SIZES)
  set(folder ${PELMORA_ICON_WORK}/${size}x${size})
  file(MAKE_DIRECTORY ${folder})
  execute_process(
    COMMAND ${PELMORA_RSVG_CONVERT} --width=${size} --height=${size}
            --output=${folder}/pelmora.png ${PELMORA_ICON_SOURCE}
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "rsvg-convert could not render the ${size}x${size} icon (${status})")
  endif()
  file(INSTALL DESTINATION ${CMAKE_INSTALL_PREFIX}/${PELMORA_ICON_DESTINATION}/${size}x${size}/apps
    TYPE FILE FILES ${folder}/pelmora.png)
endforeach()
