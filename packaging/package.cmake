# What an installed Mailcart needs beside its programs and icon: manual pages, completion,
# desktop entry, AppStream metadata.
include(GNUInstallDirs)

set(MAILCART_PACKAGING_SOURCE ${CMAKE_SOURCE_DIR}/packaging)
set(MAILCART_PACKAGING_BINARY ${CMAKE_BINARY_DIR}/packaging)
set(MAILCART_METAINFO ${MAILCART_PACKAGING_BINARY}/invalid.mailcart.Mailcart.metainfo.xml)

# The pages and the metadata carry the project version.
set(MAILCART_MAN_PAGES mailcart mailcart-send mailcart-unpack)
foreach(page ${MAILCART_MAN_PAGES})
  configure_file(${MAILCART_PACKAGING_SOURCE}/man/${page}.1.in ${MAILCART_PACKAGING_BINARY}/man/${page}.1 @ONLY)
endforeach()
configure_file(${MAILCART_PACKAGING_SOURCE}/invalid.mailcart.Mailcart.metainfo.xml.in ${MAILCART_METAINFO} @ONLY)

# Debian policy 12.3: compressed with gzip -9, and -n keeps the name and time out of the
# header, so that the same sources give the same package.
function(mailcart_gzip source output)
  add_custom_command(OUTPUT ${output} COMMAND gzip -9nc ${source} > ${output} DEPENDS ${source})
endfunction()

set(MAILCART_MAN_GZ)
foreach(page ${MAILCART_MAN_PAGES})
  mailcart_gzip(${MAILCART_PACKAGING_BINARY}/man/${page}.1 ${MAILCART_PACKAGING_BINARY}/man/${page}.1.gz)
  list(APPEND MAILCART_MAN_GZ ${MAILCART_PACKAGING_BINARY}/man/${page}.1.gz)
endforeach()
add_custom_target(mailcart_packaging_files ALL DEPENDS ${MAILCART_MAN_GZ})

install(FILES ${MAILCART_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${MAILCART_PACKAGING_SOURCE}/bash-completion/mailcart-send
              ${MAILCART_PACKAGING_SOURCE}/bash-completion/mailcart-unpack
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${MAILCART_PACKAGING_SOURCE}/mailcart.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${MAILCART_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
