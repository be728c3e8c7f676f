# The Windows installer of this build's word size (packaging/msi):
#   cmake --build <build> --target msi
# stages the Release files (stripped), the headers, the documents and the
# licence in <build>/msi-stage and builds
# <build>/zpor8dtc23-<version>-win32|win64.msi with wixl and msibuild
# (Debian package wixl). Windows target only.
if(NOT WIN32)
  return()
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ZP_MSI_BITS 64)
else()
  set(ZP_MSI_BITS 32)
endif()
set(ZP_MSI_FILE ${CMAKE_BINARY_DIR}/zpor8dtc23-${PROJECT_VERSION}-win${ZP_MSI_BITS}.msi)
set(zp_stage ${CMAKE_BINARY_DIR}/msi-stage)
add_custom_target(msi
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${zp_stage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${zp_stage}/include/zpor8dtc23 ${zp_stage}/doc
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:zpor8dtc23> $<TARGET_FILE:zptrace> $<TARGET_FILE:xadriver>
          ${zp_stage}
  COMMAND ${CMAKE_STRIP} ${zp_stage}/$<TARGET_FILE_NAME:zpor8dtc23> ${zp_stage}/$<TARGET_FILE_NAME:zptrace>
          ${zp_stage}/$<TARGET_FILE_NAME:xadriver>
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/include/zpor8dtc23/xa.h
          ${CMAKE_SOURCE_DIR}/include/zpor8dtc23/zpor8dtc23.h ${zp_stage}/include/zpor8dtc23
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/user-guide.md
          ${CMAKE_SOURCE_DIR}/docs/architecture.md ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${zp_stage}/doc
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/LICENSE ${zp_stage}/LICENSE.txt
  COMMAND sh ${CMAKE_SOURCE_DIR}/packaging/msi/build-msi.sh ${zp_stage} ${ZP_MSI_BITS} ${PROJECT_VERSION}
          ${ZP_MSI_FILE}
  DEPENDS zpor8dtc23 zptrace xadriver
  COMMENT "Windows installer ${ZP_MSI_FILE}"
  VERBATIM)
