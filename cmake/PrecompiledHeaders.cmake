# Precompiled headers: the Qt, GoogleTest and standard headers that nearly every file of a target
# includes, parsed once per kind of target instead of once per file. Parsing them costs 3 to 6 s
# of CPU in every file that includes them; loading them precompiled costs well under one. See
# docs/performance.md, "The cold build", for the figures.
#
# Targets fall into kinds by what they link: no Qt, Qt Core, Qt Widgets, and the test binaries
# (GoogleTest beside either). Each kind's headers are precompiled once, by an object library of
# their own (kest_pch_<kind>), and every target of that kind reuses them (REUSE_FROM). A
# precompiled header is only valid with the flags it was made with, which is why the kinds follow
# the link: a target takes the compile definitions its libraries give it (QT_WIDGETS_LIB, ...), and
# clang refuses a header made with a definition the file lacks. The owner links the least of its
# kind, so every target of the kind has its definitions and more. A target whose flags differ from
# its owner's (the fuzzers' instrumentation) goes without, as does a file with options of its own.
#
# -DKEST_PCH=OFF builds without them, which also shows a file that forgot one of these includes.
option(KEST_PCH "Precompile the Qt, GoogleTest and standard headers that most files include" ON)

# The headers of each kind: what most of its files include (counted over the sources), and what
# those include anyway. A header here is parsed once per build even where no file needs it, so
# rarely used ones stay out; QTest, whose headers read the folder-specific QT_TESTCASE_BUILDDIR,
# could not be shared at all.
set(KEST_PCH_STANDARD <algorithm> <array> <chrono> <cmath> <cstdint> <cstdio> <cstring> <functional>
                      <map> <memory> <optional> <string> <string_view> <utility> <vector>)
set(KEST_PCH_QT_CORE <QByteArray> <QDateTime> <QObject> <QString> <QStringList> <QTimer>)
set(KEST_PCH_QT_WIDGETS <QColor> <QFile> <QImage> <QPainter> <QWidget>)
set(KEST_PCH_GTEST <gtest/gtest.h>)

# The libraries TARGET links, directly or through the libraries it links, by name.
function(_kest_linked_closure target out)
  set(seen)
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue item)
    # $<LINK_ONLY:lib> is how a static library passes on what it links privately.
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
    if(item MATCHES "^\\$<" OR item IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${item})
    if(NOT TARGET ${item})
      continue()
    endif()
    get_target_property(aliased ${item} ALIASED_TARGET)
    if(aliased)
      list(APPEND queue ${aliased})
    endif()
    get_target_property(type ${item} TYPE)
    get_target_property(imported ${item} IMPORTED)
    if(NOT imported AND NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${item} LINK_LIBRARIES)
      if(direct)
        list(APPEND queue ${direct})
      endif()
    endif()
    get_target_property(passed ${item} INTERFACE_LINK_LIBRARIES)
    if(passed)
      list(APPEND queue ${passed})
    endif()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# The kind of TARGET (plain, core, widgets, gtest_core, gtest_widgets), or "" for none: a target
# that is not compiled, or whose flags differ from those of this folder, where the owners are made.
function(_kest_pch_kind target out)
  set(${out} "" PARENT_SCOPE)
  get_target_property(type ${target} TYPE)
  get_target_property(imported ${target} IMPORTED)
  if(imported OR NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|OBJECT_LIBRARY)$")
    return()
  endif()
  # A Windows program with a window gets QT_NEEDS_QMAIN from Qt Core, which the Qt headers read;
  # there are two such programs, of few files each: not worth headers of their own.
  get_target_property(windowed ${target} WIN32_EXECUTABLE)
  if(WIN32 AND windowed)
    return()
  endif()
  get_target_property(options ${target} COMPILE_OPTIONS)
  get_directory_property(here_options COMPILE_OPTIONS)
  if(NOT "${options}" STREQUAL "${here_options}")
    return()
  endif()
  get_target_property(folder ${target} SOURCE_DIR)
  string(TOUPPER "${CMAKE_BUILD_TYPE}" config)
  foreach(variable CMAKE_CXX_FLAGS CMAKE_CXX_FLAGS_${config})
    get_directory_property(there DIRECTORY ${folder} DEFINITION ${variable})
    if(NOT "${there}" STREQUAL "${${variable}}")
      return()
    endif()
  endforeach()
  _kest_linked_closure(${target} linked)
  set(kind plain)
  if(Qt6::Widgets IN_LIST linked)
    set(kind widgets)
  elseif(Qt6::Core IN_LIST linked)
    set(kind core)
  endif()
  if(GTest::gtest IN_LIST linked OR gtest IN_LIST linked)
    if(kind STREQUAL "plain")
      return()
    endif()
    set(kind gtest_${kind})
  endif()
  set(${out} ${kind} PARENT_SCOPE)
endfunction()

# Every target defined in DIR and below, but those of other projects' sources (GoogleTest's in the
# cross build).
function(_kest_targets_below dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    cmake_path(IS_PREFIX CMAKE_SOURCE_DIR "${sub}" NORMALIZE ours)
    if(ours)
      _kest_targets_below(${sub} more)
      list(APPEND targets ${more})
    endif()
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# The object library that precompiles KIND's headers, made on first use.
function(_kest_pch_owner kind out)
  set(owner kest_pch_${kind})
  if(NOT TARGET ${owner})
    # A source of its own that includes them, or CMake knows no language to precompile them for.
    set(source ${CMAKE_CURRENT_BINARY_DIR}/${owner}.cpp)
    file(CONFIGURE OUTPUT ${source} CONTENT "// The precompiled headers' own object: empty.\n")
    add_library(${owner} OBJECT ${source})
    set_target_properties(${owner} PROPERTIES AUTOMOC OFF)
    set(headers ${KEST_PCH_STANDARD})
    if(kind MATCHES "core|widgets")
      list(APPEND headers ${KEST_PCH_QT_CORE})
      target_link_libraries(${owner} PRIVATE Qt6::Core)
    endif()
    if(kind MATCHES "widgets")
      list(APPEND headers ${KEST_PCH_QT_WIDGETS})
      target_link_libraries(${owner} PRIVATE Qt6::Widgets)
    endif()
    if(kind MATCHES "^gtest_")
      list(APPEND headers ${KEST_PCH_GTEST})
      target_link_libraries(${owner} PRIVATE GTest::gtest)
    endif()
    target_precompile_headers(${owner} PRIVATE ${headers})
  endif()
  set(${out} ${owner} PARENT_SCOPE)
endfunction()

# Gives every target defined in the current folder and below, of the KINDS named, the precompiled
# headers of its kind, made in this folder with its flags. Called when every target exists: at the
# end of the top-level CMakeLists.txt for the programs and libraries, and at the end of tests/ for
# the test binaries (GoogleTest's targets are known there only, and the tests' flags may differ).
function(kest_precompile_headers)
  cmake_parse_arguments(ARG "" "" "KINDS" ${ARGN})
  if(NOT KEST_PCH)
    return()
  endif()
  _kest_targets_below(${CMAKE_CURRENT_SOURCE_DIR} targets)
  foreach(target IN LISTS targets)
    get_target_property(own ${target} PRECOMPILE_HEADERS)
    get_target_property(reused ${target} PRECOMPILE_HEADERS_REUSE_FROM)
    if(own OR reused OR target MATCHES "^kest_pch_")
      continue()
    endif()
    _kest_pch_kind(${target} kind)
    if(kind IN_LIST ARG_KINDS)
      _kest_pch_owner(${kind} owner)
      target_precompile_headers(${target} REUSE_FROM ${owner})
      # A file with options of its own may put text before the precompiled headers (a forced
      # -include), which makes them unusable: such a file parses its headers itself.
      get_target_property(sources ${target} SOURCES)
      get_target_property(folder ${target} SOURCE_DIR)
      foreach(source IN LISTS sources)
        # (A relative name is taken from this folder, not the target's.)
        cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${folder})
        get_source_file_property(options ${source} TARGET_DIRECTORY ${target} COMPILE_OPTIONS)
        if(options)
          set_source_files_properties(${source} TARGET_DIRECTORY ${target}
                                      PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
        endif()
      endforeach()
    endif()
  endforeach()
endfunction()
