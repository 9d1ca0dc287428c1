# The user manual: doc/manual/manual.html laid out as "Quillory Manual.pdf" next to the
# program (where Help > User Manual finds it in the build) and installed with the other
# documents. The screenshots in doc/manual/images come from scripts/manual-screenshots.sh.
set(QUILLORY_MANUAL_SOURCE ${PROJECT_SOURCE_DIR}/doc/manual/manual.html)
set(QUILLORY_MANUAL_PDF "${PROJECT_BINARY_DIR}/src/Quillory Manual.pdf")
file(GLOB QUILLORY_MANUAL_IMAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/doc/manual/images/*.png)
add_custom_command(OUTPUT ${QUILLORY_MANUAL_PDF}
                   COMMAND quillory-manual ${QUILLORY_MANUAL_SOURCE} ${PROJECT_SOURCE_DIR}/doc/manual/images
                           ${QUILLORY_MANUAL_PDF} ${PROJECT_VERSION}
                   DEPENDS quillory-manual ${QUILLORY_MANUAL_SOURCE} ${QUILLORY_MANUAL_IMAGES}
                   COMMENT "Laying out the user manual" VERBATIM)
add_custom_target(quillory_manual ALL DEPENDS ${QUILLORY_MANUAL_PDF})
install(FILES ${QUILLORY_MANUAL_PDF} DESTINATION ${QUILLORY_DOC_DIR})

# The window looks for the installed manual relative to its own folder (a package installs
# under another prefix than a build configures), then at the configured place.
file(RELATIVE_PATH QUILLORY_DOC_DIR_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${QUILLORY_DOC_DIR})
target_compile_definitions(quillory_ui PRIVATE QUILLORY_DOC_DIR_FROM_BIN="${QUILLORY_DOC_DIR_FROM_BIN}"
                           QUILLORY_INSTALLED_DOC_DIR="${CMAKE_INSTALL_PREFIX}/${QUILLORY_DOC_DIR}")
