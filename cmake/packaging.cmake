# What is installed beside the programs and the library, and the packages:
# on Debian a `volspar` package of the commands and a `libd88-dev` package
# of the library, as Debian splits them; on Windows a .zip of the programs.

set(D88_CONTACT "volspar maintainers <maintainers@volspar.invalid>")

# What the README and the man pages refer to goes where they are installed.
set(D88_DOCS doc/design.md doc/json.md doc/merge-json.md doc/performance.md
  doc/disk-map.png doc/web.png)

if(WIN32)
  # The documents sit at the top of the install tree, beside bin/.
  install(FILES README.md LICENSE DESTINATION . COMPONENT docs)
  install(FILES ${D88_DOCS} DESTINATION doc COMPONENT docs)
else()
  # Man pages and changelogs compressed, without names or times in them, so
  # that the packages are the same from build to build.
  find_program(D88_GZIP gzip REQUIRED)
  set(pages volspar d88info volpack d88merge d88conv)
  set(compressed)
  foreach(page IN LISTS pages)
    set(out ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/man/${page}.1
        ${PROJECT_BINARY_DIR}/man/${page}.1
      COMMAND ${D88_GZIP} -9nf ${PROJECT_BINARY_DIR}/man/${page}.1
      DEPENDS ${PROJECT_SOURCE_DIR}/man/${page}.1)
    list(APPEND compressed ${out})
  endforeach()
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT manpages)

  foreach(package volspar libd88-dev)
    set(PACKAGE ${package})
    set(dir ${PROJECT_BINARY_DIR}/debian/${package})
    configure_file(cmake/debian/changelog.in ${dir}/plain/changelog @ONLY)
    add_custom_command(OUTPUT ${dir}/changelog.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${dir}/plain/changelog ${dir}/changelog
      COMMAND ${D88_GZIP} -9nf ${dir}/changelog
      DEPENDS ${dir}/plain/changelog)
    list(APPEND compressed ${dir}/changelog.gz)
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${compressed})

  set(docs ${CMAKE_INSTALL_DATAROOTDIR}/doc)
  install(FILES README.md cmake/debian/copyright
    ${PROJECT_BINARY_DIR}/debian/volspar/changelog.gz
    DESTINATION ${docs}/volspar COMPONENT docs)
  install(FILES ${D88_DOCS} DESTINATION ${docs}/volspar/doc COMPONENT docs)
  install(FILES cmake/debian/copyright
    ${PROJECT_BINARY_DIR}/debian/libd88-dev/changelog.gz
    DESTINATION ${docs}/libd88-dev COMPONENT dev_docs)
  install(FILES tests/consumer/CMakeLists.txt tests/consumer/main.cpp
    DESTINATION ${docs}/libd88-dev/examples COMPONENT dev_docs)
endif()

set(CPACK_PACKAGE_NAME volspar)
set(CPACK_PACKAGE_VENDOR "the volspar authors")
set(CPACK_PACKAGE_CONTACT ${D88_CONTACT})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Extracts fixed sector runs from D88 disk images and checks the images")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_COMPONENTS_ALL commands docs)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
  set(CPACK_COMPONENTS_ALL commands manpages docs development dev_docs)
  foreach(component commands manpages docs)
    string(TOUPPER ${component} upper)
    set(CPACK_COMPONENT_${upper}_GROUP tools)
  endforeach()
  foreach(component development dev_docs)
    string(TOUPPER ${component} upper)
    set(CPACK_COMPONENT_${upper}_GROUP dev)
  endforeach()
  # The first line of each description is the package's summary; CPack
  # would put the project's summary before it unless the summary is its
  # default.
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME volspar)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libd88-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_TOOLS_DESCRIPTION
    "extract and check the fixed sector runs of D88 disk images
volspar copies seven fixed stretches of sectors from the first disk of a
D88 floppy-disk image into TRV01.BIN to TRV07.BIN, for study, translation
and repair. d88info checks any D88 image: whether the file is one at all,
whether it is truncated or damaged, which records stand out, and whether
volspar's files would be complete and trustworthy; as text, as JSON, or as
an SVG map of the disk. d88merge compares dumps of the same disks sector by
sector and merges their good sectors into one image. d88conv makes D88
images of raw sector dumps and raw dumps of D88 disks, and takes disks out
of images and joins them.")
  set(CPACK_DEBIAN_DEV_DESCRIPTION
    "reader for D88 floppy-disk images (static library and headers)
D88File opens D88 images, finds their disks, and reads sectors by track
and sector ID, singly or in runs across sides and cylinders, without
exceptions or dynamic allocation. This package holds the header, the
static library, a CMake package (find_package(d88)), a pkg-config file and
an example program.")
endif()
include(CPack)
