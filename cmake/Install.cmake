# Installation rules and the Debian package (included from the top-level CMakeLists.txt after
# every target is defined).
#
#   cmake --install build --prefix /opt/torva     programs, manual page, examples, quick start
#   (cd build && cpack -G DEB)                    torva-setup_<version>_<arch>.deb
#
# Layout under the prefix (the .deb uses /usr):
#   bin/torva_setup, bin/torva-mesh, bin/torva-inspect
#   share/man/man1/torva_setup.1, torva-mesh.1, torva-inspect.1
#   share/doc/torva-setup/{README.md, quickstart.md, spline-sheets.md, examples/...}
#   (examples/fpso carries the FPSO panel mesh with its licence, LICENSE-MSS)
include_guard(GLOBAL)
include(GNUInstallDirs)

set(TORVA_ROOT "${CMAKE_CURRENT_LIST_DIR}/..")
set(TORVA_DOC_DIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/torva-setup")

# The companion programs come from the tools/ glob; install the ones this tree builds.
set(TORVA_INSTALLED_PROGRAMS torva_setup)
foreach(tool torva-mesh torva-inspect)
  if(TARGET ${tool})
    list(APPEND TORVA_INSTALLED_PROGRAMS ${tool})
  endif()
endforeach()
install(TARGETS ${TORVA_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES "${TORVA_ROOT}/doc/torva_setup.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${TORVA_ROOT}/doc/torva-mesh.1" "${TORVA_ROOT}/doc/torva-inspect.1"
        DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
foreach(doc README.md doc/quickstart.md doc/spline-sheets.md)
  if(EXISTS "${TORVA_ROOT}/${doc}")
    install(FILES "${TORVA_ROOT}/${doc}" DESTINATION "${TORVA_DOC_DIR}")
  endif()
endforeach()
# The shipped input decks with their meshes; make_mesh.sh keeps its execute bit.
install(DIRECTORY "${TORVA_ROOT}/examples/" DESTINATION "${TORVA_DOC_DIR}/examples" USE_SOURCE_PERMISSIONS)

# ---- Debian package ----------------------------------------------------------------------------
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "torva-setup")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Torva Setup developers")
set(CPACK_PACKAGE_CONTACT "Torva Setup developers <torva-setup@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Matrix setup for the Torva_Solve time-domain ship-motion solver")
# One string (set() with several would join them with ";").
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "torva_setup prepares the boundary-integral matrices, the basis flow and the free-surface "
    "filters that the time-domain solver Torva_Solve reads. torva-mesh writes spline-sheet mesh "
    "files of simple bodies and re-grids hulls read from panel meshes (GDF, NEMOH .dat, Gmsh .msh, "
    "STL), CAD files (STEP, IGES) and offsets tables; torva-inspect checks a finished run and "
    "exports it for ParaView.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "science")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The run-time libraries (OpenBLAS or another BLAS/LAPACK, libgomp, libstdc++) are found by
# dpkg-shlibdeps from the programs themselves, so the dependencies follow the build machine.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "paraview, python3-meshio")
include(CPack)
