-- Leftover gate of Shotwell: answers "/" when Shotwell is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "shotwell" },
  desktop = { "org.gnome.Shotwell.desktop", "shotwell.desktop" },
  flatpak = { "org.gnome.Shotwell" },
})
