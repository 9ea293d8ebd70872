# Platform-independent sources: no Windows header, built for both targets.
set(VANTRELL_CORE_SOURCES
  platform/text.cpp
  platform/registry_rules.cpp
  platform/file_rules.cpp
  app/run_mode.cpp
  ui/control_rules.cpp
)

# Everything else of the program except its entry point.
set(VANTRELL_WINDOWS_SOURCES
  platform/text_win.cpp
  platform/system.cpp
  ui/window.cpp
  ui/controls.cpp
  ui/events.cpp
  platform/elevation.cpp
  platform/registry.cpp
  platform/security.cpp
  platform/files.cpp
  app/startup.cpp
  app/main_window.cpp
  repair/repair_tool.cpp
)
