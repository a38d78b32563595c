# find_package(KelInstallSystem) gives the imported target KelInstallSystem::KelInstallSystem:
# the component library with the public header on its include path.
include("${CMAKE_CURRENT_LIST_DIR}/KelInstallSystemTargets.cmake")
