# Fills STAGE with everything sf6companion.exe and sf6cli.exe need to run
# where the folder is unpacked. Called by the sf6_windows_packages target.
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})

set(qt_dlls Core Gui Widgets PrintSupport Sql SerialPort Charts)
set(binaries ${SF6COMPANION} ${SF6CLI})
foreach(module ${qt_dlls})
  list(APPEND binaries ${QT_PREFIX}/bin/Qt6${module}.dll)
endforeach()
list(APPEND binaries ${DEPS_BIN}/libxlsxwriter.dll ${DEPS_BIN}/zlib1.dll ${DEPS_BIN}/libpq.dll)
# OpenSSL, for the certificates' signatures and for libpq's TLS; libqrencode
# for their QR codes (kept a DLL of its own: it is LGPL).
list(APPEND binaries ${DEPS_BIN}/libcrypto-3-x64.dll ${DEPS_BIN}/libssl-3-x64.dll ${DEPS_BIN}/libqrencode.dll)
# FreeXL and minizip, for importing .xls and .xlsx (given as a|b).
string(REPLACE "|" ";" reader_dlls "${READER_DLLS}")
list(APPEND binaries ${reader_dlls})
# The MinGW runtime, stripped: libstdc++ alone is 24 MB with its symbols.
set(runtime ${GCC_DIR}/libstdc++-6.dll ${GCC_DIR}/libgcc_s_seh-1.dll ${MINGW_LIB}/libwinpthread-1.dll)
file(COPY ${binaries} ${runtime} DESTINATION ${STAGE})
foreach(dll ${runtime})
  get_filename_component(name ${dll} NAME)
  execute_process(COMMAND ${STRIP} --strip-unneeded ${STAGE}/${name} COMMAND_ERROR_IS_FATAL ANY)
endforeach()

foreach(plugin platforms/qwindows styles/qwindowsvistastyle sqldrivers/qsqlite sqldrivers/qsqlpsql)
  get_filename_component(dir ${plugin} DIRECTORY)
  file(COPY ${QT_PREFIX}/plugins/${plugin}.dll DESTINATION ${STAGE}/${dir})
endforeach()

# Qt's own Chinese dialog texts, the same files as Debian's.
file(COPY ${TRANSLATIONS}/qtbase_zh_CN.qm DESTINATION ${STAGE}/translations)
# The faces the report and the chart are drawn with.
file(COPY ${FONTS}/LiberationSans-Regular.ttf ${FONTS}/LiberationSans-Bold.ttf ${FONTS}/wqy-zenhei.ttc
     DESTINATION ${STAGE}/fonts)
file(WRITE ${STAGE}/qt.conf "[Paths]\nPrefix = .\nPlugins = .\nTranslations = translations\n")

# The licence of every component we ship, from Debian's copyright file of the
# package of the same version; licenses/README.txt says which covers what.
set(licenses
  qt6-base=libqt6core6 qt6-serialport=libqt6serialport6 qt6-charts=libqt6charts6
  qt6-translations=qt6-translations-l10n sqlite=libsqlite3-0 libxlsxwriter=libxlsxwriter4
  zlib=libz-mingw-w64 minizip=libminizip1 freexl=libfreexl1 libpq=libpq5
  openssl=libssl3 libqrencode=libqrencode4
  gcc-runtime=gcc-mingw-w64-base winpthreads=mingw-w64-common
  fonts-liberation=fonts-liberation fonts-wqy-zenhei=fonts-wqy-zenhei)
file(MAKE_DIRECTORY ${STAGE}/licenses)
file(COPY ${LICENSES}/README.txt DESTINATION ${STAGE}/licenses)
foreach(pair ${licenses})
  string(REPLACE "=" ";" pair ${pair})
  list(GET pair 0 name)
  list(GET pair 1 package)
  set(copyright ${DEBIAN_DOC}/${package}/copyright)
  if(NOT EXISTS ${copyright})
    message(FATAL_ERROR "${copyright} is missing: install the Debian package ${package} (scripts/deps.sh)")
  endif()
  configure_file(${copyright} ${STAGE}/licenses/${name}.txt COPYONLY)
endforeach()
