-- Leftover gate of Deluge: answers "/" when Deluge is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "deluge", "deluge-gtk", "deluged", "deluge-web", "deluge-console" },
  desktop = { "deluge.desktop", "org.deluge_torrent.deluge.desktop" },
  flatpak = { "org.deluge_torrent.deluge" },
})
