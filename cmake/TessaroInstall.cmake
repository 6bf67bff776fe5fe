# Where an installed Tessaro lives (a prefix such as /usr or /opt/tessaro):
#   bin/                  tessaro, tessaro-service, tessaro-press-sim
#   lib/                  libtessaro.so (the programs find it as ../lib)
#   share/tessaro/        htmlapp (the page and its locales), samples (the demo's preset)
#   share/applications/   tessaro.desktop
# and a Debian package of it from CPack (cpack -G DEB in the build folder).

set(CMAKE_INSTALL_RPATH "$ORIGIN/../lib")

install(TARGETS tessaro LIBRARY DESTINATION lib)
install(FILES ${PROJECT_SOURCE_DIR}/library/include/tessaro.h ${PROJECT_SOURCE_DIR}/library/include/tessarox.h
        DESTINATION include)
foreach(program tessaro_host tessaro_service tessaro-press-sim)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
    install(TARGETS ${program} RUNTIME DESTINATION bin)
  endif()
endforeach()
if(TARGET tessaro_host)
  # Development files of the page (dev/) stay in the source tree.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/htmlapp/ DESTINATION share/tessaro/htmlapp
          PATTERN dev EXCLUDE PATTERN README.md EXCLUDE)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/sim/samples/ DESTINATION share/tessaro/samples)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/tessaro.desktop DESTINATION share/applications)
endif()

set(CPACK_PACKAGE_NAME tessaro)
set(CPACK_PACKAGE_VENDOR "Tessaro")
set(CPACK_PACKAGE_CONTACT "Tessaro maintainers <tessaro@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Remote ink-control console for sheet-fed offset presses")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The libraries the programs link (the C and C++ runtime) from dpkg-shlibdeps;
# a browser for the app window, which the program does without (--no-browser).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "chromium")
include(CPack)
