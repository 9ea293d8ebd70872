# Platform-independent sources: no Windows header, built for both targets.
set(VANTRELL_CORE_SOURCES
  platform/text.cpp
  platform/registry_rules.cpp
  platform/file_rules.cpp
  platform/path_rules.cpp
  app/run_mode.cpp
  ui/control_rules.cpp
  accounts/account_rules.cpp
  accounts/profile_key_rules.cpp
  accounts/personal_folder_rules.cpp
  accounts/lifecycle_rules.cpp
  ui/drawing_rules.cpp
  accounts/picture_rules.cpp
)

# Everything else of the program except its entry point.
set(VANTRELL_WINDOWS_SOURCES
  platform/text_win.cpp
  platform/system.cpp
  ui/window.cpp
  ui/controls.cpp
  ui/events.cpp
  ui/drawing.cpp
  ui/dialog.cpp
  ui/message_box.cpp
  platform/elevation.cpp
  platform/registry.cpp
  platform/security.cpp
  platform/files.cpp
  platform/file_move.cpp
  app/startup.cpp
  app/main_window.cpp
  app/about_box.cpp
  app/account_panel.cpp
  repair/repair_tool.cpp
  repair/repair_hive.cpp
  accounts/groups.cpp
  accounts/lookup.cpp
  accounts/account_list.cpp
  accounts/account_settings.cpp
  accounts/passwords.cpp
  accounts/password_dialog.cpp
  accounts/profile_keys.cpp
  accounts/pictures.cpp
  accounts/row_pictures.cpp
  accounts/picture_dialog.cpp
  accounts/personal_folders.cpp
  accounts/personal_folders_dialog.cpp
  accounts/create_account.cpp
  accounts/delete_account.cpp
  accounts/create_account_dialog.cpp
  accounts/delete_account_dialog.cpp
)

# The machine's services as the product reaches them: the system's own.
set(VANTRELL_MACHINE_SOURCES
  platform/machine_win.cpp
)

# The simulated machine behind the same boundary, for the sandbox and the tests.
set(VANTRELL_SANDBOX_SOURCES
  sandbox/state.cpp
  sandbox/profiles.cpp
  sandbox/accounts_sim.cpp
  sandbox/security_sim.cpp
  sandbox/session_sim.cpp
  sandbox/session_user.cpp
  sandbox/reboot_sim.cpp
  sandbox/broken_profile.cpp
  sandbox/scenario.cpp
)
