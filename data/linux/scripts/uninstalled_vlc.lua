-- Leftover gate of VLC: answers "/" when VLC is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "vlc", "cvlc", "qvlc" },
  desktop = { "vlc.desktop", "org.videolan.VLC.desktop" },
  flatpak = { "org.videolan.VLC" },
  snap = { "vlc" },
})
