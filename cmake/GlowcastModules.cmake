# Glowcast's own modules: shared libraries the programs open only when what they serve is wanted
# (adapters/process/shared_library.h), so that a service that never needs them never maps them nor
# what they pull in. The build tree keeps them in one folder, which the tests are given as
# GLOWCAST_MODULE_DIR; the package installs them in LIBDIR/glowcast/modules (a folder of their own, so
# that the package's scripts never run ldconfig for them), and the programs find them there from the
# folder they run from: the prefix's bin, or its libexec/glowcast.
include(GNUInstallDirs)
set(GLOWCAST_MODULE_BUILD_DIR ${PROJECT_BINARY_DIR}/modules)
set(GLOWCAST_MODULE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/glowcast/modules)
file(RELATIVE_PATH GLOWCAST_BIN_FROM_PREFIX ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_BINDIR})
file(RELATIVE_PATH GLOWCAST_LIBEXEC_FROM_PREFIX ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBEXECDIR}/glowcast)
file(RELATIVE_PATH GLOWCAST_MODULES_FROM_PREFIX ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBDIR}/glowcast/modules)

# glowcast_add_module(NAME SOURCES...): the module NAME.so, without the lib prefix.
function(glowcast_add_module name)
    add_library(${name} MODULE ${ARGN})
    set_target_properties(${name} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${GLOWCAST_MODULE_BUILD_DIR})
    install(TARGETS ${name} LIBRARY DESTINATION ${GLOWCAST_MODULE_INSTALL_DIR})
endfunction()
