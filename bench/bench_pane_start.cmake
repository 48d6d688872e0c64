# The pane start-up benchmark runs the host program with the built pane bundle.
if(TARGET panehost AND TARGET CorvimusPanePlugin)
  target_compile_definitions(${name} PRIVATE
    PANEHOST_EXECUTABLE="$<TARGET_FILE:panehost>"
    PANE_BUNDLE="${CORVIMUS_PANE_BUNDLE}")
  add_dependencies(${name} panehost CorvimusPanePlugin)
else()
  target_compile_definitions(${name} PRIVATE CORVIMUS_NO_PANE)
endif()
