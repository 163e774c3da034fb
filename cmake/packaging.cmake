# Install rules and the packages users install.
#
# Linux (cpack in the build folder):
#   .deb     the program in /opt/qiongzhi, the launcher /usr/bin/qiongzhi, a menu entry and an icon;
#            the launcher runs a per-user copy, as the program keeps its data beside itself
#   .tar.gz  the program alone in a folder of its own, for unpacking anywhere the user can write
# Windows (cross builds, 32- and 64-bit):
#   .zip     qiongzhi.exe (and the console qiongzhi-cli.exe) alone: data/, down/ and logs/ are made
#            when it runs; -win32.zip from the 32-bit build, -win64.zip from the 64-bit one
#   installer  the per-user NSIS installer: target qz_installer, or packaging/make-installer.sh
#              in the build folder with the file to write. The 32-bit build's installer runs on
#              every Windows and, given the 64-bit build's folder, carries both programs and puts
#              the 64-bit one on 64-bit Windows; the 64-bit build's own installer (a 64-bit
#              installer with the 64-bit program) is what a machine without 32-bit Wine can try.

set(QZ_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)

# The icon is a resource of the Windows program: rebuild it when the icon changes.
if(WIN32)
  set_source_files_properties(${CMAKE_SOURCE_DIR}/res/qiongzhi.rc DIRECTORY ${CMAKE_SOURCE_DIR}/src
    PROPERTIES OBJECT_DEPENDS ${QZ_PACKAGING_DIR}/qiongzhi.ico)
endif()

set(CPACK_PACKAGE_NAME qiongzhi)
set(CPACK_PACKAGE_VENDOR "Qiongzhi")
set(CPACK_PACKAGE_CONTACT "Qiongzhi maintainers <maintainers@qiongzhi.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "琼枝直播下载 - records live broadcasts and downloads replays")
set(CPACK_PACKAGE_DESCRIPTION
  "Records the live broadcasts of a live-commerce platform, and downloads their replays, as video
files: the room is opened in Chromium, the stream address is taken from the page's requests and
ffmpeg copies the stream into a numbered mp4 file.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
# Each generator takes its own component: see the per-generator settings below.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/packaging/cpack-per-generator.cmake)

if(WIN32)
  install(TARGETS qiongzhi RUNTIME DESTINATION . COMPONENT portable)
  if(TARGET qiongzhi-cli)
    install(TARGETS qiongzhi-cli RUNTIME DESTINATION . COMPONENT portable)
  endif()
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QZ_WINDOWS_WIDTH 64)
  else()
    set(QZ_WINDOWS_WIDTH 32)
  endif()
  set(CPACK_PACKAGE_FILE_NAME qiongzhi-${PROJECT_VERSION}-win${QZ_WINDOWS_WIDTH})
  file(WRITE ${CMAKE_BINARY_DIR}/packaging/cpack-per-generator.cmake
    "set(CPACK_COMPONENTS_ALL portable)\nset(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)\n")

  find_program(QZ_MAKENSIS makensis)
  if(QZ_MAKENSIS)
    set(QZ_CLI_EXE "")
    if(TARGET qiongzhi-cli)
      set(QZ_CLI_EXE "$<TARGET_FILE:qiongzhi-cli>")
    endif()
    configure_file(${QZ_PACKAGING_DIR}/make-installer.sh.in
      ${CMAKE_BINARY_DIR}/packaging/make-installer.sh.in @ONLY)
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/packaging/make-installer.sh
      INPUT ${CMAKE_BINARY_DIR}/packaging/make-installer.sh.in)
    if(QZ_WINDOWS_WIDTH EQUAL 64)
      set(QZ_INSTALLER ${CMAKE_BINARY_DIR}/packages/qiongzhi-${PROJECT_VERSION}-win64-setup.exe)
    else()
      set(QZ_INSTALLER ${CMAKE_BINARY_DIR}/packages/qiongzhi-${PROJECT_VERSION}-setup.exe)
    endif()
    add_custom_command(OUTPUT ${QZ_INSTALLER}
      COMMAND bash ${CMAKE_BINARY_DIR}/packaging/make-installer.sh ${QZ_INSTALLER}
      DEPENDS qiongzhi $<TARGET_NAME_IF_EXISTS:qiongzhi-cli> ${QZ_PACKAGING_DIR}/qiongzhi.nsi ${QZ_PACKAGING_DIR}/qiongzhi.ico
      VERBATIM)
    add_custom_target(qz_installer DEPENDS ${QZ_INSTALLER})
  endif()
else()
  # The system package. The launcher finds the program at ../../opt/qiongzhi from itself.
  install(TARGETS qiongzhi RUNTIME DESTINATION opt/qiongzhi COMPONENT system)
  install(PROGRAMS ${QZ_PACKAGING_DIR}/qiongzhi-launcher.sh DESTINATION usr/bin RENAME qiongzhi
    COMPONENT system)
  install(FILES ${QZ_PACKAGING_DIR}/qiongzhi.desktop DESTINATION usr/share/applications
    COMPONENT system)
  install(FILES ${QZ_PACKAGING_DIR}/qiongzhi.svg
    DESTINATION usr/share/icons/hicolor/scalable/apps COMPONENT system)
  install(FILES ${QZ_PACKAGING_DIR}/qiongzhi.png
    DESTINATION usr/share/icons/hicolor/256x256/apps COMPONENT system)
  # The portable folder: run ./qiongzhi where it was unpacked.
  install(TARGETS qiongzhi RUNTIME DESTINATION . COMPONENT portable EXCLUDE_FROM_ALL)
  install(FILES ${QZ_PACKAGING_DIR}/qiongzhi.png DESTINATION . COMPONENT portable EXCLUDE_FROM_ALL)

  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_PACKAGE_FILE_NAME qiongzhi-${PROJECT_VERSION}-linux-x86_64)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION video)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://qiongzhi.invalid/")
  # Shared libraries (Qt, libcurl, the C++ runtime) come from dpkg-shlibdeps; the browser, ffmpeg and
  # Qt's display plugins are run or loaded at run time, so they are named here.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "chromium | google-chrome-stable, ffmpeg, qt6-qpa-plugins")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei")
  file(WRITE ${CMAKE_BINARY_DIR}/packaging/cpack-per-generator.cmake [=[
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL system)
  set(CPACK_PACKAGING_INSTALL_PREFIX "/")
else()
  set(CPACK_COMPONENTS_ALL portable)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
]=])
endif()

include(CPack)
