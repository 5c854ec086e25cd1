# What a program of the Windows build loads at run time, copied into the folder the programs are
# built in: Qt's DLLs, the platform plugins (windows for the desktop, offscreen for the tests),
# the styles and image formats, and the compiler's runtime DLLs that Qt and our programs share.
# scripts/package-windows.sh takes the same files from there.

get_target_property(kest_qt_core_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
if(NOT kest_qt_core_dll)
  get_target_property(kest_qt_core_dll Qt6::Core IMPORTED_LOCATION)
endif()
get_filename_component(kest_qt_bin ${kest_qt_core_dll} DIRECTORY)
get_filename_component(kest_qt_prefix ${kest_qt_bin} DIRECTORY)

set(kest_runtime_dir ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
file(MAKE_DIRECTORY ${kest_runtime_dir})
file(GLOB kest_qt_dlls ${kest_qt_bin}/Qt6*.dll)
file(COPY ${kest_qt_dlls} DESTINATION ${kest_runtime_dir})
foreach(plugin platforms/qwindows.dll platforms/qoffscreen.dll styles/qwindowsvistastyle.dll
               imageformats/qico.dll imageformats/qjpeg.dll imageformats/qgif.dll)
  if(EXISTS ${kest_qt_prefix}/plugins/${plugin})
    get_filename_component(kest_plugin_dir ${plugin} DIRECTORY)
    file(COPY ${kest_qt_prefix}/plugins/${plugin} DESTINATION ${kest_runtime_dir}/${kest_plugin_dir})
  endif()
endforeach()

# The compiler knows where its own runtime lies; a name it does not know comes back unchanged.
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE kest_dll_path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${kest_dll_path}")
    foreach(folder /usr/${KEST_MINGW_TRIPLE}/lib /usr/${KEST_MINGW_TRIPLE}/bin)
      if(EXISTS ${folder}/${dll})
        set(kest_dll_path ${folder}/${dll})
      endif()
    endforeach()
  endif()
  if(NOT EXISTS "${kest_dll_path}")
    message(FATAL_ERROR "The compiler's runtime ${dll} was not found")
  endif()
  file(COPY ${kest_dll_path} DESTINATION ${kest_runtime_dir})
endforeach()
