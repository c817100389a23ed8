-- Leftover gate of Rhythmbox: answers "/" when Rhythmbox is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "rhythmbox" },
  desktop = { "org.gnome.Rhythmbox3.desktop", "rhythmbox.desktop" },
  flatpak = { "org.gnome.Rhythmbox3" },
})
