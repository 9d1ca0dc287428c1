# What a Linux desktop needs besides the programs: the menu entry, the software-centre
# description, the file types of projects and templates, icons, the licence files, and
# the Debian package built from all of it by `cpack -G DEB`.
include(GNUInstallDirs)

set(QUILLORY_APP_ID org.brindlemoor.Quillory)
set(QUILLORY_DESKTOP_DIR ${PROJECT_SOURCE_DIR}/resources/desktop)
set(QUILLORY_ICON_DIR ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

install(FILES ${QUILLORY_DESKTOP_DIR}/${QUILLORY_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QUILLORY_DESKTOP_DIR}/${QUILLORY_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${QUILLORY_DESKTOP_DIR}/quillory-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME ${QUILLORY_APP_ID}.xml)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${QUILLORY_DESKTOP_DIR}/icons/quillory-${size}.png DESTINATION ${QUILLORY_ICON_DIR}/${size}x${size}/apps
          RENAME ${QUILLORY_APP_ID}.png)
endforeach()
install(FILES ${QUILLORY_DESKTOP_DIR}/icons/${QUILLORY_APP_ID}.svg DESTINATION ${QUILLORY_ICON_DIR}/scalable/apps)
install(FILES ${QUILLORY_DESKTOP_DIR}/icons/application-x-quillory-project.svg
              ${QUILLORY_DESKTOP_DIR}/icons/application-x-quillory-template.svg
        DESTINATION ${QUILLORY_ICON_DIR}/scalable/mimetypes)

# Debian wants manual pages and the changelog compressed, reproducibly (no name, no time).
set(QUILLORY_GZ_DIR ${PROJECT_BINARY_DIR}/desktop)
configure_file(${QUILLORY_DESKTOP_DIR}/changelog.in ${QUILLORY_GZ_DIR}/changelog @ONLY)
set(QUILLORY_GZ_FILES)
foreach(source ${PROJECT_SOURCE_DIR}/doc/quillory.1 ${PROJECT_SOURCE_DIR}/doc/quillory-cli.1 ${QUILLORY_GZ_DIR}/changelog)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${QUILLORY_GZ_DIR}/${name}.gz
                     COMMAND gzip -9n -c ${source} > ${QUILLORY_GZ_DIR}/${name}.gz
                     DEPENDS ${source} VERBATIM)
  list(APPEND QUILLORY_GZ_FILES ${QUILLORY_GZ_DIR}/${name}.gz)
endforeach()
add_custom_target(quillory_desktop_files ALL DEPENDS ${QUILLORY_GZ_FILES})
install(FILES ${QUILLORY_GZ_DIR}/quillory.1.gz ${QUILLORY_GZ_DIR}/quillory-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
set(QUILLORY_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quillory)
install(FILES ${QUILLORY_DESKTOP_DIR}/copyright ${PROJECT_SOURCE_DIR}/THIRD-PARTY-NOTICES.txt
              ${QUILLORY_GZ_DIR}/changelog.gz
        DESTINATION ${QUILLORY_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillory)
set(CPACK_PACKAGE_VENDOR Brindlemoor)
set(CPACK_PACKAGE_CONTACT "Quillory developers <quillory@brindlemoor.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "beat slicer for drum loops")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION "Quillory cuts a drum break or any rhythmic loop into slices at its
transients, on a grid of beats or bars, by hand or after a saved template,
and plays them from the mouse, the computer keyboard or a MIDI keyboard,
stretched and pitched in real time. Edits are non-destructive with full
undo; slices are exported as audio files, a MIDI file or a sampler kit.
quillory-cli does the same slicing on folders of loops without a window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://brindlemoor.org/quillory")
# Runtime dependencies come from the libraries the binaries link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# FFmpeg is loaded at run time (src/audio/FfmpegLibrary), so dpkg-shlibdeps cannot see it:
# the packages of the major versions the headers describe are named here.
set(_ffmpeg_packages)
foreach(_lib avutil swresample avcodec avformat)
  string(TOUPPER ${_lib} _upper)
  file(GLOB _version_headers ${FFMPEG_INCLUDE_DIRS}/lib${_lib}/version*.h /usr/include/lib${_lib}/version*.h
       /usr/include/${CMAKE_LIBRARY_ARCHITECTURE}/lib${_lib}/version*.h)
  set(_major)
  foreach(_header ${_version_headers})
    file(STRINGS ${_header} _line REGEX "^#define LIB${_upper}_VERSION_MAJOR +[0-9]+")
    if(_line)
      string(REGEX REPLACE ".* ([0-9]+)$" "\\1" _major "${_line}")
    endif()
  endforeach()
  if(_major)
    list(APPEND _ffmpeg_packages "lib${_lib}${_major}")
  endif()
endforeach()
string(REPLACE ";" ", " CPACK_DEBIAN_PACKAGE_DEPENDS "${_ffmpeg_packages}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# PulseAudio and PipeWire reach ALSA programs through these plugins; JACK is optional.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libasound2-plugins")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "jackd2 | pipewire-jack")
include(CPack)
