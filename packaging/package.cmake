# What an installed Mailcart needs beside its programs and icon (manual pages, completion,
# desktop entry, AppStream metadata, the user's service of a watched folder, copyright and
# changelog), and how CPack makes the Debian package of it (scripts/package).
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
mailcart_gzip(${MAILCART_PACKAGING_SOURCE}/changelog ${MAILCART_PACKAGING_BINARY}/changelog.gz)
add_custom_target(mailcart_packaging_files ALL DEPENDS ${MAILCART_MAN_GZ} ${MAILCART_PACKAGING_BINARY}/changelog.gz)

install(FILES ${MAILCART_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${MAILCART_PACKAGING_SOURCE}/bash-completion/mailcart-send
              ${MAILCART_PACKAGING_SOURCE}/bash-completion/mailcart-unpack
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${MAILCART_PACKAGING_SOURCE}/mailcart.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The user's service that watches a folder; systemd looks in /usr/lib, whatever the libdir.
install(FILES "${MAILCART_PACKAGING_SOURCE}/systemd/mailcart-watch@.service" DESTINATION lib/systemd/user)
install(FILES ${MAILCART_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${MAILCART_PACKAGING_SOURCE}/copyright ${MAILCART_PACKAGING_BINARY}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/mailcart)

# Folders as Debian wants them whatever the umask of whoever builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mailcart)
set(CPACK_PACKAGE_VENDOR "The Mailcart developers")
set(CPACK_PACKAGE_CONTACT "Mailcart developers <maintainers@mailcart.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "e-mail files in bulk, one message per file")
# Lines of the control file's description stay under 80 columns: CPack does not wrap them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Mailcart sends any number of files by e-mail, each as the attachment of a\n"
  "message of its own, to one recipient through an SMTP server (STARTTLS or TLS,\n"
  "logins with PLAIN, LOGIN or XOAUTH2), pausing between messages as chosen. A\n"
  "batch cut short can be resumed without sending a file twice.\n"
  "\n"
  "The package holds the window (mailcart), the same batch from a shell without a\n"
  "display (mailcart-send) and a tool that writes the text and the attachments of\n"
  "a saved message to a folder (mailcart-unpack).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The password a user remembers in the window is kept by a secret service.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-keyring")
include(CPack)
