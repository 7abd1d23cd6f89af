# Checks that every library includes only headers of its own folder and of the
# libraries below it. Run with
#   cmake -DSOURCE_DIR=<the source tree> -P tools/LayerCheck.cmake
# It fails (and names every offending line) when a file includes a header that
# lives in a folder its library may not use. Headers found in none of the
# folders below (Qt, the C library, generated forms) are not its business.
#
# The table mirrors the target_link_libraries of each folder: a folder may
# include its own headers and those of the folders listed after it. Keep the two
# in step: a new link upward is a design change, not a fix for a build error.

cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "LayerCheck: pass -DSOURCE_DIR=<source tree>")
endif()

set(store_layers store/settings store/records store/engine store/base)

# folder                     what it may include besides itself
# (a program's entry file, main.cpp or *Main.cpp, may also use cli: the console
# programs and the desktop program link it beside their folder's library)
set(allowed_store/base)
set(allowed_store/engine     store/base)
set(allowed_store/records    store/base)
set(allowed_store/settings   store/records store/base)
set(allowed_store            ${store_layers})
set(allowed_cli              store ${store_layers})
set(allowed_forms            store ${store_layers})
set(allowed_views            store ${store_layers})
set(allowed_admin            forms store ${store_layers})
set(allowed_events           admin forms store ${store_layers})
set(allowed_ical             store ${store_layers})
set(allowed_reports          views ical forms store ${store_layers})
set(allowed_app              reports events admin views ical forms store ${store_layers})
set(allowed_migrate          cli store ${store_layers})

set(folders store/base store/engine store/records store/settings store
            cli forms views admin events ical reports app migrate)

# Which folder holds each header (one folder per header name: the include
# directories are flat, so a name found twice would already be ambiguous).
foreach(folder IN LISTS folders)
  file(GLOB headers RELATIVE ${SOURCE_DIR}/${folder} ${SOURCE_DIR}/${folder}/*.h)
  foreach(header IN LISTS headers)
    if(DEFINED home_${header})
      message(SEND_ERROR "LayerCheck: ${header} is in both ${home_${header}} and ${folder}")
    endif()
    set(home_${header} ${folder})
  endforeach()
endforeach()

set(faults 0)
foreach(folder IN LISTS folders)
  file(GLOB sources ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
  foreach(source IN LISTS sources)
    file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
      get_filename_component(name "${included}" NAME)
      if(NOT DEFINED home_${name})
        continue()
      endif()
      set(home ${home_${name}})
      if(home STREQUAL folder OR home IN_LIST allowed_${folder})
        continue()
      endif()
      if(home STREQUAL "cli" AND source MATCHES "(/main|Main)\\.cpp$")
        continue()
      endif()
      file(RELATIVE_PATH shown ${SOURCE_DIR} ${source})
      message(SEND_ERROR "LayerCheck: ${shown} (${folder}) includes ${included} of ${home}, which it may not use")
      math(EXPR faults "${faults} + 1")
    endforeach()
  endforeach()
endforeach()

if(faults GREATER 0)
  message(FATAL_ERROR "LayerCheck: ${faults} include(s) point upward or sideways")
endif()
message(STATUS "LayerCheck: every include points downward")
