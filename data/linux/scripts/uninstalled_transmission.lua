-- Leftover gate of Transmission: answers "/" when Transmission is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "transmission-gtk", "transmission-qt", "transmission-daemon", "transmission-cli", "transmission-remote" },
  desktop = { "transmission-gtk.desktop", "transmission-qt.desktop", "com.transmissionbt.transmission.desktop" },
  flatpak = { "com.transmissionbt.Transmission" },
  snap = { "transmission" },
})
