# Puts the default data files beside the program: rules, tables and scripts
# are replaced by the build's copies, the settings file only when there is
# none yet (the program keeps the user's settings in it).
#   cmake -DSOURCES="dir1;dir2" -DDEST=bin -P copy-data.cmake
foreach(source IN LISTS SOURCES)
    file(GLOB entries RELATIVE ${source} ${source}/*)
    foreach(entry IN LISTS entries)
        if(entry STREQUAL "config.inf" AND EXISTS ${DEST}/${entry})
            continue()
        endif()
        if(entry STREQUAL "README.md")
            continue()  # documents the data; nothing the program reads
        endif()
        file(COPY ${source}/${entry} DESTINATION ${DEST})
    endforeach()
endforeach()
